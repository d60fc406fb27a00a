// Rebuilding a table from its data file, for a table the engine refuses or
// the check finds inconsistent.
//
// The rebuild takes the table for itself (the definition file opened with
// an exclusive share mode, held to the end), copies every file of the table
// into a backup folder, and then makes from the records of the data file:
//   - the free-record chain, from a scan of every slot, ascending;
//   - every index, afresh in the table's own format and options, with no
//     free pages;
//   - the blob file, when the table has one and it is not consistent: every
//     value a kept record refers to, checked against its owner record and
//     field, laid out again block after block, followed by five free blocks
//     (lost blocks are thereby recovered); a consistent blob file with at
//     most ten free blocks stays as it is;
//   - the table counters: free count and head from the new chain, the next
//     autoincrement value above every stored one (never lowered), the
//     change counter raised by one, the kept value kept.
// A record it cannot keep (a damaged image, a second record with the primary
// key of another, a key value that cannot be ordered) is set aside: listed
// with its number, what is wrong and the values that can be read; its slot
// becomes free and its bytes stay in the backup. A blob value whose chain
// is broken is detached from its record (null flag 0, slot 0), listed the
// same way, and its blocks are freed.
//
// Every new file is written to a temporary beside the table ("<file>.rebuild")
// and forced to the disk; only when all are written are they renamed over
// the table's files, so a rebuild that fails before that leaves the table as
// it was. Files whose new contents equal the old ones are not rewritten.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace logvane {

struct TRebuildOptions {
  // The folder that receives the copy of the table's files; created when
  // missing, and a file of the same name in it is never overwritten. Empty:
  // a new folder beside the table, "<table name>-backup-<yyyymmdd-hhnnss>"
  // (UTC).
  std::string backup_dir;
};

enum class TRebuildStatus {
  kRebuilt,        // done; changes, set-aside records and detached values listed
  kInUse,          // another program has the table open: nothing done
  kUnreadable,     // the table's files cannot be read or rebuilt: nothing changed
  kBackupFailed,   // the backup copy failed: nothing changed
  kFailed,         // the rebuild failed before replacing any file: nothing changed
  kReplaceFailed,  // renaming the new files failed part-way: the backup holds the table
};

struct TRecoveredValue {
  std::string field;  // the field's name
  char type_code = 0;
  std::string text;  // the value as text; a blob value's bytes as stored
  // The field's null flag is neither 0 nor 1: `text` says so instead.
  bool flag_damaged = false;
};

// A record that was not kept.
struct TSetAsideRecord {
  int32_t record = -1;
  std::string problem;
  std::vector<TRecoveredValue> values;  // the fields that hold a readable value
};

// A blob value taken off a kept record.
struct TDetachedValue {
  int32_t record = -1;
  std::string field;
  char type_code = 0;
  std::string problem;
  int32_t total_size = -1;  // as the value's first block gives it; -1 unreadable
  std::string bytes;        // what of the value could be read, in chain order
};

struct TRebuildResult {
  TRebuildStatus status = TRebuildStatus::kFailed;
  std::string message;  // why the table was not rebuilt
  std::string backup_dir;
  std::vector<std::string> changes;  // what the rebuild changed, one a line
  std::vector<TSetAsideRecord> set_aside;
  std::vector<TDetachedValue> detached;
  int32_t records_kept = 0;
};

// Rebuilds the table whose definition file is `mti_path`. Never raises.
TRebuildResult RebuildTable(const std::string& mti_path, const TRebuildOptions& options = {});

}  // namespace logvane

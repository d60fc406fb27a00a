// The consistency check of a blob file against the records that refer to
// its values. It reads through a handle of its own (read-only, others may
// read and write), so it can run beside a writer, writes nothing and never
// raises: every inconsistency, and anything that stops it, is a line of
// text. No lines means consistent.
//
// What it reports: a block size or file size the layout cannot hold; the
// free chain (a link outside the file, a block in use or visited twice, a
// free header with other fields than its link not -1, descending order);
// each value a record refers to (a
// reference that is no block, the owner and field in its blocks, the total
// size against the used lengths, blocks not full before the last, broken
// back links, blocks on the free chain or shared with another value); and
// the blocks neither free nor part of a referred value, with values whose
// record no longer refers to them named as such.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "table/table_definition.h"

namespace logvane {

// A blob value as a live record refers to it.
struct TBlobReference {
  int32_t record = -1;
  int field = -1;
  int32_t reference = -1;  // offset of the value's first block
};

// Checks the blob file at `path`, whose referred values are exactly
// `references`.
std::vector<std::string> CheckBlobFile(const std::string& path,
                                       const std::vector<TBlobReference>& references);

// Reads the image of record `record` (the definition's record length); null
// when the record cannot be read. Free records (byte 0 = 0xFF) are skipped.
using TBlobRecordReader = std::function<const uint8_t*(int32_t record)>;

// Collects the references of records 0 .. `slot_count` - 1 of a table with
// definition `def`, reported blob null flags other than 0 and 1 included,
// and checks the file. Records the reader cannot read are left to the data
// file's check.
std::vector<std::string> CheckBlobFile(const std::string& path, const TmtbTableDef& def,
                                       int32_t slot_count, const TBlobRecordReader& read_record);

}  // namespace logvane

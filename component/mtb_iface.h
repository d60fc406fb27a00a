// The façade between the table component and the storage engine: the one
// door through which the component reaches the engine. Most operations
// forward to one engine operation; a few add a range check or a small
// composition. Numbers are 0-based (fields, indexes); a record is named by
// its record number (its slot, -1 none) or by its position (1-based place in
// the current index's range, 0 none).
//
// Record images used: the current image (engine work buffer 0) and the
// probe image (buffer 6, for reading a record by number).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blob/blob.h"
#include "engine/db_engine.h"

namespace logvane {

enum class TBlobOperation { kOpen = 0, kRead = 1, kWrite = 2, kTruncate = 3, kSize = 4 };

struct TIndexInfo {
  std::string name;
  int32_t options = 0;
  std::string fields;  // key field names in key order, joined by ";"
};

class TmtbIFace {
 public:
  TmtbIFace();
  ~TmtbIFace();
  TmtbIFace(const TmtbIFace&) = delete;
  TmtbIFace& operator=(const TmtbIFace&) = delete;

  void CopyRecordOut(uint8_t* destination);
  // Copies record-size bytes from `source` into the current image.
  void CopyRecordIn(const uint8_t* source);
  // Steps through the index (never the filtered list) toward `position`,
  // then refreshes; the distance moved. -1 does nothing and answers 0.
  int32_t GotoPosition(int32_t position);
  int32_t CurrentPosition();
  int RecordLength() const;
  int TableFieldCount() const;
  std::string TableFieldName(int field) const;
  // The field's offset and width; the result is its type code.
  char FieldInfo(int field, int* offset, int* width) const;
  bool AtBof() const;
  bool AtEof() const;
  bool NoCurrentRecord() const;
  void StepFirst();
  void StepLast();
  void StepNext();
  void StepPrior();
  int32_t OrderRecordCount();
  // The engine's writes: append the current image as a new record; update
  // the current record from the current image; delete the current record
  // and refresh, answering whether a record is then current.
  void AddRecordImage();
  void RewriteRecord();
  bool RemoveRecord();
  int TableIndexCount() const;
  std::string CurrentIndexName() const;
  int FindIndex(const std::string& name) const;
  void SelectIndex(int index);
  int32_t LiveRecordCount();
  // 0 at once when already open; else the engine's open code.
  int32_t OpenTable(const std::string& path, uint32_t mode, int retries);
  void CloseTable();
  std::string FieldAttribute(int field, int kind, size_t max_length, bool* present) const;
  bool GoToRecord(int32_t record);
  int32_t CurrentRecordId() const;
  // The highest-numbered index whose first key fields are `fields` in some
  // order and whose letter case handling matches; reorders `fields` into its
  // key order. -1 when none.
  int FindIndexForFields(std::vector<int>& fields, bool case_insensitive) const;
  // Finds the first record whose `fields` equal those of `key_image`
  // (through index `index`, or by walking the current order when it is
  // -1), the last field compared on its first `partial_length` characters
  // when that is not 0. When found, the record's image replaces
  // `key_image` and, with `move`, the record becomes current; otherwise the
  // position stays. Any failure inside answers false.
  bool LocateRecord(const std::vector<int>& fields, uint8_t* key_image, bool move,
                    bool case_insensitive, int partial_length, int index);
  bool IsOpen() const;
  // The two record tests of the filtered record list, with their owners.
  void SetFilterCallbacks(TRecordTest expression_test, void* expression_owner,
                          TRecordTest record_event_test, void* record_event_owner);
  // Switches the engine's filtered navigation on (every record is tested
  // again) or off.
  void SetFilterActive(bool on);
  // Whether the last filtered move found a record.
  bool LastMoveFound() const;
  // Which of the two record tests are in use.
  void SetFilterKinds(bool use_record_event_test, bool use_expression_test);
  int32_t RecordExists(int32_t record);
  // Operation kOpen loads and returns the field's holder for the record
  // image `image` of record `record` (null without a blob file or holder;
  // `*result` unused); the record need not be the current one, since the
  // component caches several records. The
  // other operations work on `holder` at `position`: kRead/kWrite move up
  // to `count` bytes through `data`, kTruncate empties, kSize measures;
  // `*result` receives the byte count or size.
  TBlob* BlobAccess(TBlobOperation operation, int field, const uint8_t* image, int32_t record,
                    void* data, TBlob* holder, int64_t count, int64_t position, int64_t* result);
  // Raises the plain Exception "Invalid index number used." out of range.
  TIndexInfo IndexInfo(int index, size_t max_name, size_t max_fields) const;
  // Zeroes the record image `image` and, with a blob file, resets the blob
  // holders (an unposted change is dropped).
  void ClearRecord(uint8_t* image);
  // Re-reads the current record; while filtering, a record the filter now
  // rejects gives way to the next passing one, else the prior one. Answers
  // whether a record is current.
  bool RefreshCurrent();

  // ---- Beside the holders' requests ----------------------------------------
  // The holder of blob field `field` as it is, without loading; null when
  // the table has no blob file or the field no holder.
  TBlob* FindBlobHolder(int field);
  // Marks every holder not loaded, dropping unposted changes.
  void DropBlobChanges();
  // Loads blob field `field` of record `record`, whose image is `image`,
  // into `into`, a holder of the caller's: the table's holders stay as they
  // are. False, loading nothing, without a blob file. Raises EBlobError as
  // loading a holder does.
  bool LoadBlobCopy(int field, const uint8_t* image, int32_t record, TBlob& into);

 private:
  std::unique_ptr<TmtbDBEng> engine_;
};

}  // namespace logvane

// Opening, selecting and closing a table's indexes.
#include "index/index_manager.h"

#include <exception>

#include "base/errors.h"
#include "base/messages.h"
#include "index/corruption.h"
#include "index/find_key.h"
#include "table/keys.h"
#include "table/table_definition.h"

namespace logvane {

TDaroVivuvIndex::TDaroVivuvIndex(TKeySource& source) : source_(source) {}

TDaroVivuvIndex::~TDaroVivuvIndex() { CloseAll(); }

int TDaroVivuvIndex::OpenAll(const std::string& table_path, int index_count, int format_level) {
  CloseAll();
  last_error_.clear();
  try {
    // Index 0 carries the table counters: a table cannot do without it.
    if (index_count < 1) RaiseIndexCorrupted();
    if (index_count > kMaxIndexes) throw EDedaZiDBError(msg::kTooManyIndexes);
    for (int i = 0; i < index_count; ++i)
      indexes_.push_back(std::make_unique<TIndex>(i, format_level, table_path, source_));
    for (auto& index : indexes_) index->OpenIndex();
    ActivateIndex(0);
    return 1;
  } catch (const std::exception& e) {
    last_error_ = e.what();
  } catch (...) {
    last_error_ = msg::kIndexCorrupted;
  }
  CloseAll();
  return -1;
}

void TDaroVivuvIndex::CloseAll() {
  current_ = nullptr;
  for (auto& index : indexes_) index->CloseIndex();
  indexes_.clear();
}

TIndex& TDaroVivuvIndex::IndexAt(int index) {
  if (index < 0 || index >= IndexCount()) throw EDedaZiDBError(msg::kInternalTableOperations);
  return *indexes_[index];
}

void TDaroVivuvIndex::ActivateIndex(int index) {
  TIndex& next = IndexAt(index);
  if (current_ != nullptr) current_->SetActive(false);
  next.SetActive(true);
  current_ = &next;
}

bool TDaroVivuvIndex::InsertKeyOf(int index, int32_t record, const uint8_t* image) {
  TIndex& ix = IndexAt(index);
  if (FindKey(ix, source_, image).exact) return false;
  if (&ix == current_) ix.SavePosition(true);
  uint8_t prefix[kKeyPrefixSize] = {};
  if (ix.Format().has_prefixes) BuildKeyPrefix(source_.KeyTableDef(), index, image, prefix);
  ix.InsertKey(record, prefix);
  return true;
}

int TDaroVivuvIndex::InsertKeysOf(int32_t record, const uint8_t* image) {
  for (int i = 0; i < IndexCount(); ++i)
    if (!InsertKeyOf(i, record, image)) return i;
  return -1;
}

bool TDaroVivuvIndex::DeleteKeyOf(int index, const uint8_t* image, bool adjust) {
  TIndex& ix = IndexAt(index);
  if (!FindKey(ix, source_, image).exact) return false;
  ix.DeleteKey(adjust);
  return true;
}

int TDaroVivuvIndex::DeleteKeysOf(const uint8_t* image, bool adjust) {
  for (int i = 0; i < IndexCount(); ++i)
    if (!DeleteKeyOf(i, image, adjust)) return i;
  return -1;
}

int TDaroVivuvIndex::ReplaceRecordNumbers(const uint8_t* image, int32_t record) {
  for (int i = 0; i < IndexCount(); ++i) {
    TIndex& ix = IndexAt(i);
    if (!FindKey(ix, source_, image).exact) return i;
    ix.ReplaceRecordNumber(record);
  }
  return -1;
}

void TDaroVivuvIndex::MakeAllEmpty() {
  for (auto& index : indexes_) index->MakeEmpty();
}

TTableCounters TDaroVivuvIndex::ReadCounters() { return IndexAt(0).ReadCounters(); }

void TDaroVivuvIndex::WriteCounters(const TTableCounters& counters) {
  IndexAt(0).WriteCounters(counters);
}

}  // namespace logvane

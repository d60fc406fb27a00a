// Opening, selecting and closing a table's indexes.
#include "index/index_manager.h"

#include <exception>

#include "base/errors.h"
#include "base/messages.h"
#include "index/corruption.h"
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

TTableCounters TDaroVivuvIndex::ReadCounters() { return IndexAt(0).ReadCounters(); }

void TDaroVivuvIndex::WriteCounters(const TTableCounters& counters) {
  IndexAt(0).WriteCounters(counters);
}

}  // namespace logvane

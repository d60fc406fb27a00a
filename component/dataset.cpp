#include "component/dataset.h"

#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "base/message_format.h"
#include "component/component_messages.h"

namespace logvane {

TDataSet::TDataSet() = default;

// A subclass closes in its own destructor; by now its slots are gone, so a
// dataset still open here can only forget its buffers' pointers.
TDataSet::~TDataSet() = default;

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError(msg::kDataSetClosed);
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) throw EDatabaseError(msg::kDataSetOpen);
}

void TDataSet::SetBufferCount(int count) {
  CheckInactive();
  buffer_count_ = std::max(count, 1);
}

// ---- Open and close -------------------------------------------------------

void TDataSet::Open() {
  if (state_ != dsInactive) return;
  Notify(BeforeOpen);
  state_ = dsOpening;
  try {
    OpenCursor();
  } catch (...) {
    state_ = dsInactive;
    try {
      CloseCursor();
    } catch (...) {
      // The open's own error is the one to report.
    }
    throw;
  }
  Notify(AfterOpen);
  Notify(AfterScroll);
}

void TDataSet::OpenCursor() {
  default_fields_ = fields_.empty();
  OpenTableCursor();
  buffers_.assign(static_cast<size_t>(buffer_count_) + 1, nullptr);
  for (TRecordBuffer& buffer : buffers_) buffer = NewRecordBuffer();
  state_ = dsBrowse;
  ClearBuffers();
  GetNextRecords();
  bof_ = true;
  eof_ = record_count_ == 0;
}

// A record being edited or inserted is dropped: the subclass's close
// releases whatever it held for it.
void TDataSet::Close() {
  if (state_ == dsInactive) return;
  Notify(BeforeClose);
  state_ = dsInactive;
  modified_ = false;
  CloseCursor();
  Notify(AfterClose);
}

void TDataSet::CloseCursor() {
  for (TRecordBuffer buffer : buffers_) {
    if (buffer != nullptr) DropRecordBuffer(buffer);
  }
  buffers_.clear();
  ClearBuffers();
  // The subclass releases the table even when it fails part-way; the
  // dataset ends closed either way, its default fields gone and declared
  // fields unbound (the subclass normally did both already).
  auto finish = [this] {
    BindFields(false);
    if (default_fields_) DestroyFields();
    default_fields_ = false;
  };
  try {
    CloseTableCursor();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

// ---- The ring of record buffers ---------------------------------------------

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  SyncToBuffer(buffers_[static_cast<size_t>(index)]);
  current_record_ = index;
}

// Moves the buffer at slot `from` to slot `to`, shifting those between.
void TDataSet::MoveBuffer(int from, int to) {
  TRecordBuffer* b = buffers_.data();
  TRecordBuffer moved = b[from];
  for (; from < to; ++from) b[from] = b[from + 1];
  for (; from > to; --from) b[from] = b[from - 1];
  b[to] = moved;
}

bool TDataSet::GetNextRecord() {
  if (record_count_ > 0) SetCurrentRecord(record_count_ - 1);
  bool ok = FetchRecord(buffers_[static_cast<size_t>(record_count_)], gmNext) == grOK;
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else if (record_count_ < buffer_count_) {
      ++record_count_;
    } else {
      MoveBuffer(0, record_count_);  // the oldest leaves the window
    }
    current_record_ = record_count_ - 1;
  } else {
    current_record_ = -1;
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  bool ok = FetchRecord(buffers_[static_cast<size_t>(record_count_)], gmPrior) == grOK;
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(record_count_, 0);  // the newest enters at the front
      if (record_count_ < buffer_count_) {
        ++record_count_;
        ++active_record_;
      }
    }
    current_record_ = 0;
  } else {
    current_record_ = -1;
  }
  return ok;
}

void TDataSet::GetNextRecords() {
  while (record_count_ < buffer_count_ && GetNextRecord()) {
  }
}

void TDataSet::GetPriorRecords() {
  while (record_count_ < buffer_count_ && GetPriorRecord()) {
  }
}

void TDataSet::ResyncExactCentered() {
  current_record_ = -1;
  if (FetchRecord(buffers_[static_cast<size_t>(record_count_)], gmCurrent) != grOK) {
    throw EDatabaseError(msg::kRecordNotFound);
  }
  FillAroundFetched();
}

void TDataSet::ResyncAfterChange() {
  current_record_ = -1;
  TRecordBuffer spare = buffers_[static_cast<size_t>(record_count_)];
  if (FetchRecord(spare, gmCurrent) != grOK && FetchRecord(spare, gmNext) != grOK &&
      FetchRecord(spare, gmPrior) != grOK) {
    ClearBuffers();
    return;
  }
  FillAroundFetched();
}

// The record just fetched into the spare slot becomes the active one, with
// records on both sides of it.
void TDataSet::FillAroundFetched() {
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  for (int before = (buffer_count_ - 1) / 2; before > 0 && GetPriorRecord(); --before) {
  }
  GetNextRecords();
  GetPriorRecords();
}

// ---- Navigation -------------------------------------------------------------

void TDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  Notify(BeforeScroll);
  ClearBuffers();
  GoFirst();
  GetNextRecords();
  bof_ = true;
  Notify(AfterScroll);
}

void TDataSet::Last() {
  CheckActive();
  CheckBrowseMode();
  Notify(BeforeScroll);
  ClearBuffers();
  GoLast();
  GetPriorRecords();
  eof_ = true;
  Notify(AfterScroll);
}

int TDataSet::MoveBy(int distance) {
  CheckActive();
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  Notify(BeforeScroll);
  bof_ = false;
  eof_ = false;
  for (; distance > 0; --distance, ++moved) {
    if (active_record_ < record_count_ - 1) {
      ++active_record_;
    } else if (GetNextRecord()) {
      if (active_record_ < record_count_ - 1) ++active_record_;
    } else {
      eof_ = true;
      break;
    }
  }
  for (; distance < 0; ++distance, --moved) {
    if (active_record_ > 0) {
      --active_record_;
    } else if (GetPriorRecord()) {
      if (active_record_ > 0) --active_record_;
    } else {
      bof_ = true;
      break;
    }
  }
  Notify(AfterScroll);
  return moved;
}

int TDataSet::RecordCount() {
  CheckActive();
  return RecordCountInOrder();
}

int TDataSet::RecNo() {
  CheckActive();
  return ActivePosition();
}

void TDataSet::SetRecNo(int position) {
  CheckActive();
  SetActivePosition(position);
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

// ---- Searching ----------------------------------------------------------------

bool TDataSet::FindFirst() {
  CheckActive();
  CheckBrowseMode();
  return FindMatching(true, true);
}

bool TDataSet::FindLast() {
  CheckActive();
  CheckBrowseMode();
  return FindMatching(true, false);
}

bool TDataSet::FindNext() {
  CheckActive();
  CheckBrowseMode();
  return FindMatching(false, true);
}

bool TDataSet::FindPrior() {
  CheckActive();
  CheckBrowseMode();
  return FindMatching(false, false);
}

bool TDataSet::Locate(std::string_view key_fields, const std::vector<TVariant>& key_values,
                      TLocateOptions options) {
  CheckActive();
  CheckBrowseMode();
  return LocateValues(key_fields, key_values, options);
}

std::vector<TVariant> TDataSet::Lookup(std::string_view key_fields,
                                       const std::vector<TVariant>& key_values,
                                       std::string_view result_fields) {
  CheckActive();
  CheckBrowseMode();
  return LookupValues(key_fields, key_values, result_fields);
}

// ---- Bookmarks --------------------------------------------------------------

TBookmark TDataSet::GetBookmark() {
  TRecordBuffer active = ActiveBuffer();
  bool browsing = state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert;
  if (!browsing || active == nullptr || bookmark_size_ <= 0 ||
      ReadBookmarkFlag(active) != bfCurrent) {
    return {};
  }
  TBookmark bookmark(static_cast<size_t>(bookmark_size_));
  ReadBookmark(active, bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckActive();
  CheckBrowseMode();
  if (static_cast<int>(bookmark.size()) != bookmark_size_) {
    throw EDatabaseError(msg::kRecordNotFound);
  }
  Notify(BeforeScroll);
  ReachBookmark(bookmark.data());
  ResyncExactCentered();
  Notify(AfterScroll);
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (!Active()) return false;
  if (!bookmark.empty() && static_cast<int>(bookmark.size()) != bookmark_size_) return false;
  return BookmarkAlive(bookmark.empty() ? nullptr : bookmark.data());
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  return BookmarkOrder(a.empty() ? nullptr : a.data(), b.empty() ? nullptr : b.data());
}

// ---- Fields -----------------------------------------------------------------

void TDataSet::UpdateFieldDefs() { BuildFieldDefs(); }

TField* TDataSet::FindField(std::string_view name) const {
  for (const auto& field : fields_) {
    if (SameNameNoCase(field->FieldName(), name)) return field.get();
  }
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (field == nullptr) throw EDatabaseError(FormatMessage(msg::kFieldNotFound, {name_, name}));
  return *field;
}

TField& TDataSet::AddField(std::unique_ptr<TField> field) {
  CheckInactive();
  field->dataset_ = this;
  fields_.push_back(std::move(field));
  return *fields_.back();
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(const TField& field, TBlobStreamMode mode) {
  return OpenBlobStream(field, mode);
}

void AppendStream(TStream& stream, std::string& out) {
  char chunk[4096];
  for (;;) {
    const int64_t got = stream.Read(chunk, sizeof chunk);
    if (got <= 0) break;
    out.append(chunk,
               static_cast<size_t>(got < int64_t{sizeof chunk} ? got : int64_t{sizeof chunk}));
  }
}

bool WriteStream(TStream* stream, std::string_view bytes) {
  if (stream == nullptr || bytes.empty()) return true;
  const auto size = static_cast<int64_t>(bytes.size());
  return stream->Write(bytes.data(), size) == size;
}

std::string_view TDataSet::FetchText(const TField& field, char* scratch) {
  if (!FetchFieldValue(field, scratch)) return {};
  return {scratch, strnlen(scratch, static_cast<size_t>(field.Size()))};
}

void TDataSet::AppendBlobValue(const TField& field, std::string& out) {
  std::unique_ptr<TStream> stream = CreateBlobStream(field, bmRead);
  if (stream) AppendStream(*stream, out);
}

bool TDataSet::StoreBlobValue(const TField& field, std::string_view bytes) {
  std::unique_ptr<TStream> stream = CreateBlobStream(field, bmWrite);
  return WriteStream(stream.get(), bytes);
}

namespace {

std::unique_ptr<TField> MakeField(const TFieldDef& def) {
  switch (def.DataType) {
    case ftString:
      if (def.Size < 1 || def.Size > TStringField::kMaxSize) {
        throw EDatabaseError(msg::kInvalidFieldSize);
      }
      return std::make_unique<TStringField>(def.Name, def.Size);
    case ftInteger: return std::make_unique<TIntegerField>(def.Name);
    case ftAutoInc: return std::make_unique<TAutoIncField>(def.Name);
    case ftBoolean: return std::make_unique<TBooleanField>(def.Name);
    case ftFloat: return std::make_unique<TFloatField>(def.Name);
    case ftCurrency: return std::make_unique<TCurrencyField>(def.Name);
    case ftDateTime: return std::make_unique<TDateTimeField>(def.Name);
    case ftBlob: return std::make_unique<TBlobField>(def.Name, ftBlob);
    case ftFmtMemo: return std::make_unique<TBlobField>(def.Name, ftFmtMemo);
    case ftMemo: return std::make_unique<TMemoField>(def.Name);
    case ftGraphic: return std::make_unique<TGraphicField>(def.Name);
    default: throw EDatabaseError(FormatMessage(msg::kUnknownFieldType, {def.Name}));
  }
}

}  // namespace

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const TFieldDef& def = field_defs_[i];
    if (def.DataType == ftUnknown) continue;
    std::unique_ptr<TField> field = MakeField(def);
    field->dataset_ = this;
    field->required_ = def.Required;
    fields_.push_back(std::move(field));
  }
}

void TDataSet::DestroyFields() { fields_.clear(); }

void TDataSet::BindFields(bool binding) {
  for (const auto& field : fields_) {
    if (!binding) {
      field->field_no_ = 0;
      field->in_place_ = false;
      continue;
    }
    const TFieldDef* def = field_defs_.Find(field->FieldName());
    if (def == nullptr) {
      throw EDatabaseError(FormatMessage(msg::kFieldNotFound, {name_, field->DisplayName()}));
    }
    if (def->DataType != field->DataType() ||
        (field->DataType() == ftString && def->Size != field->Size())) {
      throw EDatabaseError(FormatMessage(
          msg::kFieldTypeMismatch,
          {field->DisplayName(), FieldTypeName(field->DataType()), FieldTypeName(def->DataType)}));
    }
    field->field_no_ = def->FieldNo;
  }
}

}  // namespace logvane

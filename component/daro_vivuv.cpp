#include "component/daro_vivuv.h"

#include <cstring>

#include "base/errors.h"
#include "component/blob_stream.h"
#include "component/component_messages.h"
#include "component/field_mapping.h"
#include "platform/file.h"
#include "table/table_definition.h"

namespace logvane {

namespace {

// Read access, compatibility sharing: the open that only fetches the field
// definitions of a closed table.
constexpr uint32_t kOpenReadCompatible = 0x00;
constexpr size_t kShortString = 255;

}  // namespace

TDaroVivuv::TDaroVivuv() = default;

TDaroVivuv::~TDaroVivuv() {
  // The framework's destructor can no longer reach this class's slots.
  try {
    Close();
  } catch (...) {
  }
}

// ---- Properties ---------------------------------------------------------------

void TDaroVivuv::SetTableName(const std::string& path) {
  if (State() != dsInactive) throw EDatabaseError(msg::kDataSetOpen);
  if (path != table_name_) index_name_.clear();
  table_name_ = path;
}

std::string TDaroVivuv::IndexName() const {
  if (Active() && cursor_open_) {
    std::string current = iface_.CurrentIndexName();
    if (current != index_name_) index_name_ = std::move(current);
  }
  return index_name_;
}

void TDaroVivuv::SetIndexName(const std::string& name) {
  if (Active()) CheckBrowseMode();
  index_name_ = name;
  if (!Active()) return;
  SelectIndexNamed();
  First();
}

void TDaroVivuv::SetReadOnly(bool value) {
  if (State() != dsInactive) throw EDatabaseError(msg::kDataSetOpen);
  read_only_ = value;
}

void TDaroVivuv::SetReadBesideWriter(bool value) {
  if (State() != dsInactive) throw EDatabaseError(msg::kDataSetOpen);
  read_beside_writer_ = value;
}

int TDaroVivuv::TableRecordCount() {
  if (!Active()) throw EDatabaseError(msg::kDataSetClosed);
  return iface_.LiveRecordCount();
}

// ---- Opening and closing ------------------------------------------------------

void TDaroVivuv::OpenTableCursor() {
  writable_ = true;
  if (!platform::FileExists(table_name_)) {
    throw EDatabaseError(msg::kTableFileNotFound + table_name_);
  }
  const uint32_t mode = read_beside_writer_ ? kOpenReadBesideWriter
                        : read_only_        ? kOpenReadShared
                                            : kOpenWriteShared;
  writable_ = (mode & 2) != 0;
  const int32_t code = iface_.OpenTable(table_name_, mode, open_retry_count_);
  if (code < 0) throw EDatabaseError(OpenFailureText(table_name_, code));
  cursor_open_ = true;
  pending_edge_ = kEdgeFirst;
  ++open_serial_;

  BuildFieldDefs();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  SetBookmarkSize(kBookmarkSize);

  record_length_ = iface_.RecordLength();
  slots_.assign(iface_.TableFieldCount(), TFieldSlot{});
  for (int n = 0; n < iface_.TableFieldCount(); ++n)
    slots_[n].code = iface_.FieldInfo(n, &slots_[n].offset, &slots_[n].width);
  // Every record buffer starts with the engine image: bound fields read the
  // active record in place, as FetchFieldValue would. Blob fields ask the
  // dataset, whose holders know of values not yet stored.
  for (int i = 0; i < FieldCount(); ++i) {
    const auto n = static_cast<size_t>(Field(i).FieldNo()) - 1;
    if (n < slots_.size() && !IsBlobType(slots_[n].code)) ReadInPlace(Field(i), slots_[n]);
  }
  info_offset_ = record_length_ + 1 + CalcFieldsSize();
  buffer_size_ = record_length_ + CalcFieldsSize() + 17;

  CheckDeclaredFields(iface_, *this, FormatSettings().DecimalSeparator);
  filter_buffer_ = std::make_unique<uint8_t[]>(static_cast<size_t>(buffer_size_));
  iface_.SetFilterCallbacks(ExpressionTest, this, RecordEventTest, this);
  event_filter_ = static_cast<bool>(on_filter_record_);
  filter_pending_ = true;
  engine_filtering_ = false;
  RebuildIndexDefs();
  remembered_position_ = -1;
  SelectIndexNamed();
}

void TDaroVivuv::RebuildIndexDefs() {
  index_defs_.clear();
  const int count = iface_.TableIndexCount();
  for (int i = 0; i < count; ++i) {
    TIndexInfo info = iface_.IndexInfo(i, kShortString, kShortString);
    TIndexDef def;
    def.Name = std::move(info.name);
    def.Fields = std::move(info.fields);
    if (info.options & kIndexPrimary) def.Options |= ixPrimary;
    if (info.options & kIndexDescending) def.Options |= ixDescending;
    if (info.options & kIndexCaseInsensitive) def.Options |= ixCaseInsensitive;
    index_defs_.push_back(std::move(def));
  }
}

// An empty name selects index 0, while open as at the open.
void TDaroVivuv::SelectIndexNamed() {
  int index = 0;
  if (!index_name_.empty()) {
    index = iface_.FindIndex(index_name_);
    if (index < 0) throw EDatabaseError(index_name_ + msg::kNotValidIndexName);
  }
  iface_.SelectIndex(index);
}

void TDaroVivuv::CloseTableCursor() {
  BindFields(false);
  slots_.clear();
  if (DefaultFields()) DestroyFields();
  ++open_serial_;
  remembered_position_ = -1;
  writable_ = false;
  expr_filter_.SetExpressionActive(false);
  expression_filter_ = false;
  filter_pending_ = false;
  engine_filtering_ = false;
  filter_buffer_.reset();
  if (cursor_open_) {
    // The flag drops even when the close fails: the engine has released
    // every file by then.
    cursor_open_ = false;
    iface_.CloseTable();
  }
}

void TDaroVivuv::BuildFieldDefs() {
  TFieldDefs& defs = FieldDefsForUpdate();
  if (iface_.IsOpen()) {
    BuildFieldDefList(iface_, defs);
    return;
  }
  defs.Clear();
  if (iface_.OpenTable(table_name_, kOpenReadCompatible, 0) < 0) return;
  try {
    BuildFieldDefList(iface_, defs);
  } catch (...) {
    iface_.CloseTable();
    throw;
  }
  iface_.CloseTable();
}

// ---- Record buffers and fetching ------------------------------------------------

TRecordBuffer TDaroVivuv::NewRecordBuffer() {
  return new uint8_t[static_cast<size_t>(buffer_size_)]();
}

void TDaroVivuv::DropRecordBuffer(TRecordBuffer buffer) { delete[] buffer; }

TGetResult TDaroVivuv::FetchRecord(TRecordBuffer buffer, TGetMode mode) {
  if (filter_pending_) {
    filter_pending_ = false;
    ApplyPendingFilter();
  }
  TGetResult result = grOK;
  switch (mode) {
    case gmCurrent:
      if (iface_.NoCurrentRecord()) result = grError;
      break;
    case gmNext:
      if (pending_edge_ != kEdgeFirst) iface_.StepNext();
      if (iface_.AtEof() || iface_.NoCurrentRecord()) result = grEOF;
      break;
    case gmPrior:
      if (pending_edge_ != kEdgeLast) iface_.StepPrior();
      if (iface_.AtBof() || iface_.NoCurrentRecord()) result = grBOF;
      break;
    default: result = grError; break;
  }
  iface_.CopyRecordOut(buffer);
  pending_edge_ = kEdgeNone;
  if (result != grOK) return result;

  uint8_t* info = Info(buffer);
  PutNative32(info + kPositionAt, iface_.CurrentPosition());
  info[kEditStateAt] = 0;
  info[kBookmarkFlagAt] = bfCurrent;
  const int32_t record = iface_.CurrentRecordId();
  PutNative32(info + kBookmarkAt, record);
  PutNative32(info + kBookmarkAt + 4, record);
  return grOK;
}

void TDaroVivuv::SyncToBuffer(TRecordBuffer buffer) {
  const int32_t position = GetNative32(Info(buffer) + kPositionAt);
  iface_.GotoPosition(position);
  remembered_position_ = position;
}

void TDaroVivuv::GoFirst() {
  if (State() == dsInsert) return;
  iface_.StepFirst();
  pending_edge_ = kEdgeFirst;
}

void TDaroVivuv::GoLast() {
  if (State() == dsInsert) return;
  iface_.StepLast();
  pending_edge_ = kEdgeLast;
}

int TDaroVivuv::RecordCountInOrder() {
  // Counting a filtered order re-reads the current record.
  const bool keep_blobs = engine_filtering_ && (State() == dsEdit || State() == dsInsert);
  if (!keep_blobs) return iface_.OrderRecordCount();
  SavePendingBlobs();
  int count = 0;
  try {
    count = iface_.OrderRecordCount();
  } catch (...) {
    RestorePendingBlobs();
    throw;
  }
  RestorePendingBlobs();
  return count;
}

int TDaroVivuv::ActivePosition() {
  TRecordBuffer active = ActiveBuffer();
  if ((Bof() && Eof()) || active == nullptr) return -1;
  return GetNative32(Info(active) + kPositionAt);
}

void TDaroVivuv::SetActivePosition(int position) { MoveBy(position - ActivePosition()); }

bool TDaroVivuv::CurrentRecordCopy(TRecordBuffer buffer) {
  TRecordBuffer active = ActiveBuffer();
  if (IsEmpty() || active == nullptr) return false;
  std::memcpy(buffer, active, static_cast<size_t>(buffer_size_));
  return true;
}

// ---- Field values -----------------------------------------------------------------

TRecordBuffer TDaroVivuv::BufferForState() const {
  switch (State()) {
    case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsNewValue: return ActiveBuffer();
    case dsFilter: return filter_buffer_.get();
    default:
      // The key, calculation and old-value states read no buffer here.
      return nullptr;
  }
}

bool TDaroVivuv::FetchFieldValue(const TField& field, void* destination) {
  // Browsing reads the active buffer (none while the table is empty).
  TRecordBuffer buffer = State() == dsBrowse ? ActiveBuffer() : BufferForState();
  if (buffer == nullptr) return false;
  // Calculated and lookup fields (field number 0 or less) do not exist.
  if (field.FieldNo() < 1 || field.FieldNo() > static_cast<int>(slots_.size())) return false;
  const TFieldSlot& slot = slots_[field.FieldNo() - 1];
  if (IsBlobType(slot.code)) return BlobFieldHasValue(field.FieldNo() - 1, buffer);
  return FetchTableFieldValue(slot, buffer, field, destination);
}

std::string_view TDaroVivuv::FetchText(const TField& field, char* scratch) {
  if (field.DataType() != ftString) return TDataSet::FetchText(field, scratch);
  TRecordBuffer buffer = State() == dsBrowse ? ActiveBuffer() : BufferForState();
  const auto n = static_cast<size_t>(field.FieldNo()) - 1;
  if (buffer == nullptr || n >= slots_.size()) return {};
  return TableFieldText(slots_[n], buffer, field);
}

std::unique_ptr<TStream> TDaroVivuv::OpenBlobStream(const TField& field, TBlobStreamMode mode) {
  return std::make_unique<TBlobStream>(*this, field, mode);
}

void TDaroVivuv::AppendBlobValue(const TField& field, std::string& out) {
  TBlobStream stream(*this, field, bmRead);
  AppendStream(stream, out);
}

bool TDaroVivuv::StoreBlobValue(const TField& field, std::string_view bytes) {
  TBlobStream stream(*this, field, bmWrite);
  return WriteStream(&stream, bytes);
}

TBlob* TDaroVivuv::LoadBlobHolder(int field, const uint8_t* image, int32_t record) {
  // The holder is loaded for the record of the buffer, which need not be
  // the engine's current record when several records are cached.
  return iface_.BlobAccess(TBlobOperation::kOpen, field, image, record, nullptr, nullptr, 0, 0,
                           nullptr);
}

// ---- Bookmarks ------------------------------------------------------------------------

void TDaroVivuv::ReadBookmark(TRecordBuffer buffer, uint8_t* data) {
  std::memcpy(data, Info(buffer) + kBookmarkAt, kBookmarkSize);
}

void TDaroVivuv::WriteBookmark(TRecordBuffer buffer, const uint8_t* data) {
  std::memcpy(Info(buffer) + kBookmarkAt, data, kBookmarkSize);
}

TBookmarkFlag TDaroVivuv::ReadBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(Info(buffer)[kBookmarkFlagAt]);
}

void TDaroVivuv::WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  Info(buffer)[kBookmarkFlagAt] = flag;
}

int32_t TDaroVivuv::BufferRecordNumber(TRecordBuffer buffer) const {
  return GetNative32(Info(buffer) + kBookmarkAt);
}

void TDaroVivuv::ReachBookmark(const uint8_t* bookmark) {
  const int32_t record = GetNative32(bookmark + 4);
  if (record >= 0 && !iface_.GoToRecord(record)) {
    throw EDatabaseError(msg::kBookmarkUnavailable);
  }
}

bool TDaroVivuv::BookmarkAlive(const uint8_t* bookmark) {
  if (!iface_.IsOpen() || bookmark == nullptr) return false;
  return iface_.RecordExists(GetNative32(bookmark + 4)) >= 0;
}

int TDaroVivuv::BookmarkOrder(const uint8_t* a, const uint8_t* b) {
  if (a == b) return 0;
  if (a != nullptr && b != nullptr && GetNative32(a) == GetNative32(b)) return 0;
  return 1;
}

}  // namespace logvane

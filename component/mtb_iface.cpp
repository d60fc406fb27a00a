// The façade's operations over the storage engine.
#include "component/mtb_iface.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/errors.h"
#include "blob/blob_holders.h"
#include "component/component_messages.h"

namespace logvane {

namespace {
constexpr int kCurrentImage = 0;
constexpr size_t kShortString = 255;

std::string Short(const std::string& s, size_t max = kShortString) {
  return s.size() > max ? s.substr(0, max) : s;
}
}  // namespace

TmtbIFace::TmtbIFace() : engine_(std::make_unique<TmtbDBEng>()) {}
TmtbIFace::~TmtbIFace() = default;

void TmtbIFace::CopyRecordOut(uint8_t* destination) {
  std::memcpy(destination, engine_->WorkBuffer(kCurrentImage), engine_->RecordLength());
}

void TmtbIFace::CopyRecordIn(const uint8_t* source) {
  std::memcpy(engine_->WorkBuffer(kCurrentImage), source, engine_->RecordLength());
}

int32_t TmtbIFace::GotoPosition(int32_t position) { return engine_->MoveToPosition(position); }

int32_t TmtbIFace::CurrentPosition() { return engine_->CurrentPosition(); }

int TmtbIFace::RecordLength() const { return engine_->Definition().RecordLength(); }

int TmtbIFace::TableFieldCount() const { return engine_->Definition().FieldCount(); }

std::string TmtbIFace::TableFieldName(int field) const {
  return Short(engine_->Definition().FieldName(field));
}

char TmtbIFace::FieldInfo(int field, int* offset, int* width) const {
  const TmtbFieldDesc& f = engine_->Definition().FieldDesc(field);
  *offset = f.offset;
  *width = f.size;
  return f.type_code;
}

bool TmtbIFace::AtBof() const { return engine_->IsBOF(); }
bool TmtbIFace::AtEof() const { return engine_->IsEOF(); }
bool TmtbIFace::NoCurrentRecord() const { return engine_->CurrentRecordNumber() == -1; }
void TmtbIFace::AddRecordImage() { engine_->AppendRecord(); }
void TmtbIFace::RewriteRecord() { engine_->PostRecord(); }

bool TmtbIFace::RemoveRecord() {
  engine_->DeleteRecord();
  return RefreshCurrent();
}

void TmtbIFace::StepFirst() { engine_->First(); }
void TmtbIFace::StepLast() { engine_->Last(); }
void TmtbIFace::StepNext() { engine_->Next(); }
void TmtbIFace::StepPrior() { engine_->Prior(); }
int32_t TmtbIFace::OrderRecordCount() { return engine_->RecordCount(); }

int TmtbIFace::TableIndexCount() const { return engine_->Definition().IndexCount(); }

std::string TmtbIFace::CurrentIndexName() const {
  return Short(engine_->Definition().Index(engine_->CurrentIndex()).name);
}

int TmtbIFace::FindIndex(const std::string& name) const {
  return engine_->Definition().IndexNumber(name);
}

void TmtbIFace::SelectIndex(int index) {
  if (index < 0 || index >= engine_->Definition().IndexCount())
    throw Exception(msg::kInvalidIndexNumber);
  engine_->SetCurrentIndex(index);
}

int32_t TmtbIFace::LiveRecordCount() {
  return engine_->CheckDataFileSize() - static_cast<int32_t>(engine_->FreeList().size());
}

int32_t TmtbIFace::OpenTable(const std::string& path, uint32_t mode, int retries) {
  if (engine_->IsOpen()) return 0;
  return engine_->OpenTable(path, mode, retries);
}

void TmtbIFace::CloseTable() {
  if (engine_->IsOpen()) engine_->CloseTable();
}

std::string TmtbIFace::FieldAttribute(int field, int kind, size_t max_length, bool* present) const {
  return Short(engine_->Definition().FieldAttribute(field, kind, present), max_length);
}

bool TmtbIFace::GoToRecord(int32_t record) {
  if (engine_->RecordExists(record) < 0) return false;
  return engine_->GoToRecord(record);
}

int32_t TmtbIFace::CurrentRecordId() const { return engine_->CurrentRecordNumber(); }

int TmtbIFace::FindIndexForFields(std::vector<int>& fields, bool case_insensitive) const {
  return engine_->FindIndexForFields(fields, case_insensitive);
}

bool TmtbIFace::LocateRecord(const std::vector<int>& fields, uint8_t* key_image, bool move,
                             bool case_insensitive, int partial_length, int index) {
  try {
    return engine_->Locate(fields, key_image, case_insensitive, partial_length, move, index);
  } catch (const Exception&) {
    return false;
  }
}

bool TmtbIFace::IsOpen() const { return engine_->IsOpen(); }

void TmtbIFace::SetFilterCallbacks(TRecordTest expression_test, void* expression_owner,
                                   TRecordTest record_event_test, void* record_event_owner) {
  engine_->FilterList().SetExpressionTest(expression_test, expression_owner);
  engine_->FilterList().SetRecordEventTest(record_event_test, record_event_owner);
}

void TmtbIFace::SetFilterActive(bool on) { engine_->SetFiltered(on); }

bool TmtbIFace::LastMoveFound() const { return engine_->Found(); }

void TmtbIFace::SetFilterKinds(bool use_record_event_test, bool use_expression_test) {
  engine_->FilterList().SetUseRecordEventTest(use_record_event_test);
  engine_->FilterList().SetUseExpressionTest(use_expression_test);
}

int32_t TmtbIFace::RecordExists(int32_t record) { return engine_->RecordExists(record); }

TBlob* TmtbIFace::BlobAccess(TBlobOperation operation, int field, const uint8_t* image,
                             int32_t record, void* data, TBlob* holder, int64_t count,
                             int64_t position, int64_t* result) {
  return engine_->BlobHolders().Request(static_cast<TBlobRequest>(operation), engine_->BlobFile(),
                                        engine_->Definition(), field, image, record, data, holder,
                                        count, position, result);
}

TIndexInfo TmtbIFace::IndexInfo(int index, size_t max_name, size_t max_fields) const {
  const TmtbTableDef& def = engine_->Definition();
  if (index < 0 || index >= def.IndexCount()) throw Exception(msg::kInvalidIndexNumber);
  const TmtbIndexDesc& x = def.Index(index);
  TIndexInfo info;
  info.name = Short(x.name, max_name);
  info.options = x.options;
  for (int k = 0; k < x.key_field_count; ++k) {
    if (k) info.fields += ';';
    info.fields += def.FieldName(x.key_fields[k]);
  }
  info.fields = Short(info.fields, max_fields);
  return info;
}

void TmtbIFace::ClearRecord(uint8_t* image) {
  std::memset(image, 0, static_cast<size_t>(engine_->Definition().RecordLength()));
  if (engine_->BlobFile() != nullptr) engine_->BlobHolders().Reset();
}

bool TmtbIFace::RefreshCurrent() {
  engine_->FinalAdjustment();
  return engine_->CurrentRecordNumber() != -1;
}

TBlob* TmtbIFace::FindBlobHolder(int field) {
  TBlobFile* file = engine_->BlobFile();
  if (file == nullptr || !file->IsOpen()) return nullptr;
  return engine_->BlobHolders().Find(field);
}

void TmtbIFace::DropBlobChanges() { engine_->BlobHolders().Reset(); }

bool TmtbIFace::LoadBlobCopy(int field, const uint8_t* image, int32_t record, TBlob& into) {
  TBlobFile* file = engine_->BlobFile();
  const TmtbTableDef& def = engine_->Definition();
  if (file == nullptr || !file->IsOpen() || field < 0 || field >= def.FieldCount() ||
      !IsBlobType(def.Field(field).type_code))
    return false;
  if (image[field] == 1)
    into.LoadValue(*file, GetInt32(image + def.Field(field).offset), record);
  else
    into.LoadEmpty(record);
  return true;
}

}  // namespace logvane

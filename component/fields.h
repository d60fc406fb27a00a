// Field objects: one per field of an open dataset, addressed by name, through
// which values are read as text or as a boolean.
//
// A field holds no value of its own. Each read asks its dataset for the
// field's value in the current record (TDataSet::FetchFieldValue) in the
// field's dataset form, DataSize() bytes in the host's byte order:
//
//   class            kind                  dataset form
//   TStringField     ftString              Size() characters + zero byte
//   TIntegerField    ftInteger             int32
//   TAutoIncField    ftAutoInc             int32 (read-only)
//   TBooleanField    ftBoolean             int16, non-zero = true
//   TFloatField      ftFloat               double
//   TCurrencyField   ftCurrency            double
//   TDateTimeField   ftDateTime            double, buffer form of date_time.h
//   TBlobField       ftBlob, ftFmtMemo     none (DataSize 0): read through
//   TMemoField       ftMemo                a blob stream of the dataset
//   TGraphicField    ftGraphic
//
// Text forms (ReadText, AppendText) are those of text_forms.h; a field
// without a value reads as the empty text whatever its kind. The AppendText
// forms append to the caller's buffer and allocate nothing once buffer and
// field have been used once (blob fields excepted: they open a stream);
// TextView hands out a string field's stored text without copying it.
//
// Values are set while the dataset edits or inserts a record, through
// SetData (the dataset form) or the setters of each kind (field_setters.cpp);
// a blob field's value is written through a write-mode blob stream.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "component/field_type.h"
#include "component/format_settings.h"
#include "component/text_forms.h"
#include "filter/variant.h"

namespace logvane {

class TDataSet;

// Where a table field's stored value lies in the engine record image at the
// start of its dataset's record buffers: the slot's offset and width and
// the stored type code (field_mapping.h decodes it). The field's null flag
// is byte FieldNo() - 1 of the image.
struct TFieldSlot {
  int offset = 0;
  int width = 0;
  char code = 0;
};

class TField {
 public:
  virtual ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return name_; }
  // The name messages show.
  const std::string& DisplayName() const { return name_; }
  TFieldType DataType() const { return type_; }
  // Characters of a string field; 0 for other kinds.
  int Size() const { return size_; }
  // Bytes of the dataset form.
  virtual int DataSize() const = 0;
  // Position of the bound table field, from 1; 0 while unbound.
  int FieldNo() const { return field_no_; }
  TDataSet* DataSet() const { return dataset_; }

  // Column attributes, set by the dataset when it opens.
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  const std::string& DefaultExpression() const { return default_expression_; }
  void SetDefaultExpression(std::string value) { default_expression_ = std::move(value); }

  // Copies the value of the current record in dataset form into
  // `destination` (DataSize() bytes), or with nullptr only tests for it.
  // Returns whether the field has a value. Throws EDatabaseError when the
  // field belongs to no dataset.
  bool GetData(void* destination) const;
  bool IsNull() const { return !GetData(nullptr); }

  // Appends the text form of the current value.
  virtual void AppendText(std::string& out, const TFormatSettings& settings) const = 0;
  // The same with the dataset's regional settings.
  void AppendText(std::string& out) const;
  // The same text as a view, valid until the cursor moves or the field is
  // read again: a string field answers a view of the record and a number or
  // boolean one of its own small buffer, without copying; every other kind
  // replaces the content of `scratch` with its text and answers a view of
  // `scratch`.
  virtual std::string_view TextView(std::string& scratch, const TFormatSettings& settings) const;
  std::string ReadText(const TFormatSettings& settings) const;
  // The text form with the dataset's settings. With no display format,
  // AsString and Text are the same text.
  std::string AsString() const;
  std::string Text() const { return AsString(); }

  // The boolean form. Boolean and string fields answer it; every other kind
  // raises EDatabaseError "Cannot access field '<name>' as type Boolean".
  virtual bool ReadBoolean() const;
  bool AsBoolean() const { return ReadBoolean(); }

  // ---- Setting values ---------------------------------------------------------
  // Only while the dataset edits or inserts a record, else "Dataset not in
  // edit or insert mode"; a read-only field raises "Field '<name>' cannot
  // be modified". OnValidate sees the new value before it is kept (raising
  // there refuses it and the old value stays); OnChange follows.
  //
  // The value in dataset form (DataSize() bytes); nullptr: no value.
  void SetData(const void* source);
  // No value. A blob field's value is emptied, so the post frees it.
  virtual void Clear() { SetData(nullptr); }
  // The setters of the kinds. A kind that cannot take the value raises
  // "Cannot access field '<name>' as type <type>". SetAsString reads the
  // text by the dataset's regional settings (a text the kind cannot read
  // raises "'<text>' is not a valid <kind> value for field '<name>'"); an
  // empty text clears the field.
  virtual void SetAsString(std::string_view text);
  virtual void SetAsInteger(int32_t value);
  virtual void SetAsFloat(double value);
  virtual void SetAsBoolean(bool value);
  // Days since 30 December 1899, the time of day as the fraction.
  virtual void SetAsDateTime(double days);
  // By the value's class; null clears the field.
  void SetAsVariant(const TVariant& value);
  // Raises EDatabaseError naming the value, the field and the range when
  // the value lies outside the field's minimum and maximum.
  virtual void CheckRange() const {}

  std::function<void(TField&)> OnValidate;
  std::function<void(TField&)> OnChange;

 protected:
  TField(std::string name, TFieldType type, int size = 0);

  // The record buffer to read the value from in place (TDataSet::
  // ReadInPlace), or null when the value must be asked of the dataset.
  inline const uint8_t* InPlaceRecord() const;
  const TFieldSlot& InPlaceSlot() const { return slot_; }

 private:
  friend class TDataSet;

  std::string name_;
  TFieldType type_;
  int size_;
  int field_no_ = 0;
  TDataSet* dataset_ = nullptr;
  bool in_place_ = false;
  TFieldSlot slot_;
  bool read_only_ = false;
  bool required_ = false;
  std::string default_expression_;
};

class TStringField : public TField {
 public:
  // Throws EDatabaseError "Invalid field size" unless 1 <= size <= 8192.
  TStringField(std::string name, int size);
  int DataSize() const override { return Size() + 1; }
  void AppendText(std::string& out, const TFormatSettings& settings) const override;
  using TField::AppendText;
  std::string_view TextView(std::string& scratch, const TFormatSettings& settings) const override;
  // True when the text begins with "T", "Y", "t" or "y".
  bool ReadBoolean() const override;

  // Texts longer than Size() are cut; numbers and dates are stored as their
  // text forms.
  void SetAsString(std::string_view text) override;
  void SetAsInteger(int32_t value) override;
  void SetAsFloat(double value) override;
  void SetAsBoolean(bool value) override;
  void SetAsDateTime(double days) override;

  static constexpr int kMaxSize = 8192;

 private:
  // The stored characters, at most Size() of them, up to the first zero
  // byte; empty when the field has no value.
  std::string_view Fetch() const;

  mutable std::vector<char> scratch_;
};

class TIntegerField : public TField {
 public:
  explicit TIntegerField(std::string name) : TIntegerField(std::move(name), ftInteger) {}
  int DataSize() const override { return 4; }
  void AppendText(std::string& out, const TFormatSettings& settings) const override;
  using TField::AppendText;
  std::string_view TextView(std::string& scratch, const TFormatSettings& settings) const override;

  // The range a posted value must lie in. Each bound applies once set.
  int32_t MinValue() const { return min_value_; }
  int32_t MaxValue() const { return max_value_; }
  void SetMinValue(int32_t value) {
    min_value_ = value;
    has_min_ = true;
  }
  void SetMaxValue(int32_t value) {
    max_value_ = value;
    has_max_ = true;
  }
  void CheckRange() const override;

  void SetAsString(std::string_view text) override;
  void SetAsInteger(int32_t value) override;
  // A whole number in range only.
  void SetAsFloat(double value) override;

 protected:
  TIntegerField(std::string name, TFieldType type) : TField(std::move(name), type) {}

 private:
  int32_t min_value_ = 0;
  int32_t max_value_ = 0;
  bool has_min_ = false;
  bool has_max_ = false;
  mutable char text_[kNumberTextSize];  // the last TextView
};

class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(std::string name);
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(std::string name) : TField(std::move(name), ftBoolean) {}
  int DataSize() const override { return 2; }
  void AppendText(std::string& out, const TFormatSettings& settings) const override;
  using TField::AppendText;
  std::string_view TextView(std::string& scratch, const TFormatSettings& settings) const override;
  // False when the field has no value.
  bool ReadBoolean() const override;

  // "True" or "False" in any letter case.
  void SetAsString(std::string_view text) override;
  void SetAsBoolean(bool value) override;
};

class TFloatField : public TField {
 public:
  explicit TFloatField(std::string name) : TFloatField(std::move(name), ftFloat) {}
  int DataSize() const override { return 8; }
  void AppendText(std::string& out, const TFormatSettings& settings) const override;
  using TField::AppendText;
  std::string_view TextView(std::string& scratch, const TFormatSettings& settings) const override;

  // The range a posted value must lie in. Each bound applies once set.
  double MinValue() const { return min_value_; }
  double MaxValue() const { return max_value_; }
  void SetMinValue(double value) {
    min_value_ = value;
    has_min_ = true;
  }
  void SetMaxValue(double value) {
    max_value_ = value;
    has_max_ = true;
  }
  void CheckRange() const override;

  void SetAsString(std::string_view text) override;
  void SetAsInteger(int32_t value) override;
  // A finite value only.
  void SetAsFloat(double value) override;

 protected:
  TFloatField(std::string name, TFieldType type) : TField(std::move(name), type) {}

 private:
  double min_value_ = 0;
  double max_value_ = 0;
  bool has_min_ = false;
  bool has_max_ = false;
  mutable char text_[kNumberTextSize];  // the last TextView
};

// A float field whose text carries no currency symbol: the general number
// format like any float.
class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(std::string name) : TFloatField(std::move(name), ftCurrency) {}
};

class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(std::string name) : TField(std::move(name), ftDateTime) {}
  int DataSize() const override { return 8; }
  // Throws EDatabaseError "Field '<name>' holds an invalid date and time"
  // for a value outside 1 January 0001 .. 31 December 9999.
  void AppendText(std::string& out, const TFormatSettings& settings) const override;
  using TField::AppendText;

  // A date and time in the short date format, optionally followed by a
  // blank and a time (date_time_reader.h).
  void SetAsString(std::string_view text) override;
  // Within 1 January 0001 .. 31 December 9999.
  void SetAsDateTime(double days) override;
  void SetAsFloat(double days) override { SetAsDateTime(days); }
};

// The value, byte for byte, read through a read-mode blob stream.
// Setting writes the whole value through a write-mode stream.
class TBlobField : public TField {
 public:
  // `type` is ftBlob or ftFmtMemo.
  explicit TBlobField(std::string name, TFieldType type = ftBlob) : TField(std::move(name), type) {}
  int DataSize() const override { return 0; }
  void AppendText(std::string& out, const TFormatSettings& settings) const override;
  using TField::AppendText;

  // The value's bytes; empty: no value.
  void SetAsString(std::string_view bytes) override;
  void Clear() override { SetAsString({}); }
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(std::string name) : TBlobField(std::move(name), ftMemo) {}
};

class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(std::string name) : TBlobField(std::move(name), ftGraphic) {}
};

}  // namespace logvane

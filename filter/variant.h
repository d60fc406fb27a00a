// TVariant: one value as the filter language and the searches by field
// values handle it, tagged with its class:
//
//   empty      no value at all (an operator node's value); comparing it is
//              an error
//   null       a field without a value, or the constant NULL
//   integer    32-bit signed
//   float      double
//   currency   a double that compares as a fixed-point amount with four
//              decimals
//   text       8-bit characters (the table's code page), held by the value
//   boolean
//   date-time  days since 30 December 1899, the time of day as the fraction
//
// A value reuses its text storage when it is set again, so that reading a
// field into the same value record after record allocates nothing once the
// storage has grown to the longest text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace logvane {

enum class TVarType : uint8_t {
  kEmpty,
  kNull,
  kInteger,
  kFloat,
  kCurrency,
  kText,
  kBoolean,
  kDateTime,
};

class TVariant {
 public:
  TVariant() = default;

  static TVariant Null() {
    TVariant v;
    v.SetNull();
    return v;
  }
  static TVariant Integer(int32_t value) {
    TVariant v;
    v.SetInteger(value);
    return v;
  }
  static TVariant Float(double value) {
    TVariant v;
    v.SetFloat(value);
    return v;
  }
  static TVariant Currency(double value) {
    TVariant v;
    v.SetCurrency(value);
    return v;
  }
  static TVariant Text(std::string_view value) {
    TVariant v;
    v.SetText(value);
    return v;
  }
  static TVariant Boolean(bool value) {
    TVariant v;
    v.SetBoolean(value);
    return v;
  }
  static TVariant DateTime(double days) {
    TVariant v;
    v.SetDateTime(days);
    return v;
  }

  TVarType Type() const { return type_; }
  bool IsEmpty() const { return type_ == TVarType::kEmpty; }
  bool IsNull() const { return type_ == TVarType::kNull; }

  // Each answers the value of its own class; another class reads as 0,
  // false or the empty text.
  int32_t AsInteger() const { return type_ == TVarType::kInteger ? integer_ : 0; }
  // Float, currency and date-time.
  double AsNumber() const { return number_; }
  bool AsBoolean() const { return type_ == TVarType::kBoolean && integer_ != 0; }
  std::string_view AsText() const {
    return type_ == TVarType::kText ? std::string_view(text_) : std::string_view();
  }

  void SetEmpty() { Set(TVarType::kEmpty); }
  void SetNull() { Set(TVarType::kNull); }
  void SetInteger(int32_t value) {
    Set(TVarType::kInteger);
    integer_ = value;
  }
  void SetFloat(double value) {
    Set(TVarType::kFloat);
    number_ = value;
  }
  void SetCurrency(double value) {
    Set(TVarType::kCurrency);
    number_ = value;
  }
  void SetText(std::string_view value) {
    Set(TVarType::kText);
    text_.assign(value.data(), value.size());
  }
  void SetBoolean(bool value) {
    Set(TVarType::kBoolean);
    integer_ = value ? 1 : 0;
  }
  void SetDateTime(double days) {
    Set(TVarType::kDateTime);
    number_ = days;
  }

  // Same class and same value (texts byte for byte).
  bool operator==(const TVariant& other) const {
    return type_ == other.type_ && integer_ == other.integer_ && number_ == other.number_ &&
           text_ == other.text_;
  }

 private:
  void Set(TVarType type) {
    type_ = type;
    integer_ = 0;
    number_ = 0;
    text_.clear();
  }

  TVarType type_ = TVarType::kEmpty;
  int32_t integer_ = 0;  // integer; boolean as 0 or 1
  double number_ = 0;    // float, currency, date-time
  std::string text_;
};

}  // namespace logvane

// The message texts of the filter language: its parser, the check of an
// expression against a table's fields and the comparison of values. Texts
// are exact: users see them. All are raised as EDatabaseError.
#pragma once

namespace logvane::msg {

// Reading the text.
inline constexpr char kInvalidFilterCharacter[] = "Invalid filter expression character: '%s'";
inline constexpr char kUnterminatedFieldName[] = "Unterminated field name";
inline constexpr char kUnterminatedString[] = "Unterminated string constant";
inline constexpr char kExpressionExpected[] = "Expression expected but %s found";
inline constexpr char kCloseParenExpected[] = "')' expected but %s found";
inline constexpr char kFilterIncorrectlyTerminated[] = "Filter expression incorrectly terminated";
inline constexpr char kFilterNestedTooDeeply[] = "Filter expression nested too deeply";
// Stands for the %s of the two "expected" messages at the end of the text.
inline constexpr char kNothing[] = "nothing";

// Checking and evaluating.
inline constexpr char kFilterEvaluation[] = "Error in filter expression evaluation";
inline constexpr char kNotValidFilterType[] = " is not a valid filter type";  // after a name
inline constexpr char kNullComparison[] =
    "Filter expression error. <> operators not valid for null comparisons";
inline constexpr char kNotValidBoolean[] = " is not a valid boolean data value.";  // after a text
inline constexpr char kNotValidInteger[] = "'%s' is not a valid integer value";
inline constexpr char kNotValidFloat[] = "'%s' is not a valid floating point value";
inline constexpr char kNotValidDateTime[] = "'%s' is not a valid date and time";

// Comparing values.
inline constexpr char kInvalidVariantOperation[] = "Invalid variant operation";
inline constexpr char kInvalidVariantConversion[] = "Invalid variant type conversion";

}  // namespace logvane::msg

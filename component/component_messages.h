// The message texts of the dataset framework, the field objects, the
// façade and the table cursor component. Texts are exact: users see them.
#pragma once

namespace logvane::msg {

// Dataset framework and field objects.
inline constexpr char kFieldNotFound[] = "%s: Field '%s' not found";
inline constexpr char kCannotAccessFieldAsType[] = "Cannot access field '%s' as type %s";
inline constexpr char kInvalidFieldSize[] = "Invalid field size";
inline constexpr char kDataSetOpen[] = "Cannot perform this operation on an open dataset";
inline constexpr char kDataSetClosed[] = "Cannot perform this operation on a closed dataset";
inline constexpr char kRecordNotFound[] = "Record not found";
inline constexpr char kUnknownFieldType[] = "Field '%s' is of an unknown type";
inline constexpr char kFieldTypeMismatch[] =
    "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr char kFieldHasNoDataSet[] = "Field '%s' has no dataset";
inline constexpr char kInvalidDateTimeValue[] = "Field '%s' holds an invalid date and time";
inline constexpr char kReadOnlyDataSet[] = "Cannot modify a read-only dataset";
inline constexpr char kDataSetEmpty[] = "Cannot perform this operation on an empty dataset";
inline constexpr char kFieldRequired[] = "Field '%s' must have a value";
// A value outside a field's range: the value, the field, then the bounds.
inline constexpr char kValueOutOfRange[] =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr char kValueBelowMinimum[] =
    "%s is not a valid value for field '%s'. The smallest allowed value is %s";
inline constexpr char kValueAboveMaximum[] =
    "%s is not a valid value for field '%s'. The largest allowed value is %s";
// Texts that a field's kind cannot take: the text, then the field.
inline constexpr char kNotIntegerText[] = "'%s' is not a valid integer value for field '%s'";
inline constexpr char kNotNumberText[] = "'%s' is not a valid floating point value for field '%s'";
inline constexpr char kNotBooleanText[] = "'%s' is not a valid boolean value for field '%s'";
inline constexpr char kBlobTooLarge[] = "The value is too large for field '%s'";
inline constexpr char kNotDateTimeText[] = "'%s' is not a valid date and time for field '%s'";

// The table cursor component and the façade.
inline constexpr char kNotValidIndexName[] = " is not a valid index name";
inline constexpr char kInvalidFieldNumber[] = "Invalid field number used.";
inline constexpr char kInvalidIndexNumber[] = "Invalid index number used.";
inline constexpr char kTableFileNotFound[] = "File not found: ";  // then the path
inline constexpr char kBookmarkUnavailable[] = "The bookmarked record is unavailable or deleted";
inline constexpr char kBlobDataInaccessible[] = "Blob data cannot be accessed";
inline constexpr char kBlobInFilterMode[] = "Unable to access blob fields in filter mode";
inline constexpr char kNotValidLocateField[] = " is not a valid locate field.";  // after a name
inline constexpr char kFieldCannotBeModified[] = "Field '%s' cannot be modified";
inline constexpr char kNotEditing[] = "Dataset not in edit or insert mode";
inline constexpr char kRecordLocked[] = "That record is already locked";
// Default texts of new records (raised as EMTBError): the first is followed
// by a blank and the text, the second by the field's name.
inline constexpr char kNotValidDataValue[] = " is not a valid data value";
inline constexpr char kInvalidFieldTypeForField[] = "Invalid field type for field ";
// The second text follows the first directly.
inline constexpr char kFieldNameMismatch[] =
    "The dataset field name does not match the underlying table field name";
inline constexpr char kPersistentFieldMismatch[] = "Persistant field: %s - Table field %s";

}  // namespace logvane::msg

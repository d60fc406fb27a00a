// Every message text the system shows or raises, in one place. Texts are
// exact: callers compare them and users see them.
#pragma once

namespace logvane::msg {

// Table definition.
inline constexpr char kTooManyFields[] = "Number of fields in table exceeds maximum";
inline constexpr char kTooManyIndexes[] = "Number of indexes in table exceeds maximum";
inline constexpr char kFieldNumberOutOfRange[] = "Field number is out of range";
inline constexpr char kDefinitionDamaged[] = "Table definition file is damaged";

// Data file and pinned-record table.
inline constexpr char kMtdIoError[] = "I/O error on mtd file";
inline constexpr char kRecordCacheInvalid[] = "Internal error - record cache is invalid";

// Key comparison and table operations.
inline constexpr char kInternalTableOperations[] = "Internal error in table operations";

// Index structure.
inline constexpr char kIndexCorrupted[] = "Index structure may be corrupted. Suggest rebuild";
// Appended to kIndexCorrupted (no blank between) by the directory's
// block-head array: the element index and the element count, or the index.
inline constexpr char kIndexL2CodeRange[] = "idx L2 code %d %d";
inline constexpr char kIndexL2Code[] = "idx L2 code %d";
// A key search that failed for any reason other than index damage.
inline constexpr char kTableMayBeCorrupted[] = "Internal error in table - table may be corrupted";

// Blob file.
inline constexpr char kCurrentRangeEmpty[] = "Current range is empty";
inline constexpr char kFilterOperations[] = "Internal error in filter operations";
inline constexpr char kBlobError[] = "Internal error in blob access";

// Dataset framework and field objects.
inline constexpr char kFieldNotFound[] = "%s: Field '%s' not found";
inline constexpr char kCannotAccessFieldAsType[] = "Cannot access field '%s' as type %s";
inline constexpr char kInvalidFieldSize[] = "Invalid field size";
inline constexpr char kDataSetOpen[] = "Cannot perform this operation on an open dataset";
inline constexpr char kDataSetClosed[] = "Cannot perform this operation on a closed dataset";
inline constexpr char kRecordNotFound[] = "Record not found";
inline constexpr char kUnknownFieldType[] = "Field '%s' is of an unknown type";
inline constexpr char kFieldTypeMismatch[] = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr char kFieldHasNoDataSet[] = "Field '%s' has no dataset";
inline constexpr char kInvalidDateTimeValue[] = "Field '%s' holds an invalid date and time";

// Default texts of new records (EMTBError).
inline constexpr char kInvalidDataValue[] = " is not a valid data value";
inline constexpr char kInvalidFieldTypeForField[] = "Invalid field type for field ";

// Text-file errors, by code.
inline constexpr char kTextFileNotFound[] = "File not found";          // 2
inline constexpr char kTextFileInvalidName[] = "Invalid filename";     // 3
inline constexpr char kTextFileTooManyOpen[] = "Too many open files";  // 4
inline constexpr char kTextFileAccessDenied[] = "File access denied";  // 5
inline constexpr char kTextFileDiskFull[] = "Disk full";               // 101
inline constexpr char kTextFileIoError[] = "I/O error %d";             // any other code

}  // namespace logvane::msg

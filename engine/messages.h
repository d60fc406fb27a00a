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
inline constexpr char kNotValidIndexName[] = " is not a valid index name";
inline constexpr char kCannotOpenExclusive[] = " cannot be opened for exclusive use.";
inline constexpr char kTableMayBeCorruptedRebuild[] = " The table may be corrupted. Suggest rebuild";
inline constexpr char kInvalidFieldNumber[] = "Invalid field number used.";
inline constexpr char kInvalidIndexNumber[] = "Invalid index number used.";
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

// The table cursor component.
inline constexpr char kTableFileNotFound[] = "File not found: ";  // then the path
inline constexpr char kBookmarkUnavailable[] = "The bookmarked record is unavailable or deleted";
inline constexpr char kBlobDataInaccessible[] = "Blob data cannot be accessed";
inline constexpr char kBlobInFilterMode[] = "Unable to access blob fields in filter mode";
inline constexpr char kFieldCannotBeModified[] = "Field '%s' cannot be modified";
inline constexpr char kNotEditing[] = "Dataset not in edit or insert mode";
// The second text follows the first directly.
inline constexpr char kFieldNameMismatch[] =
    "The dataset field name does not match the underlying table field name";
inline constexpr char kPersistentFieldMismatch[] = "Persistant field: %s - Table field %s";

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

// The main window. Lines of a box's text are separated by a carriage
// return (character 13).
inline constexpr char kLogTableNotSelected[] = "LogTable File Not Selected";
inline constexpr char kWrongLogName[] = "Did you select the correct Log Name?";
// The folder's path goes between the two parts.
inline constexpr char kNoLogNameHead[] = "The folder ";
inline constexpr char kNoLogNameTail[] =
    " has no name to give the ADIF file.\rPlease keep the log in a folder of its own.";
inline constexpr char kContestQuestion[] =
    "Select Contest ID or\rleave blank for non contest Log.\rYes to leave blank, No to select "
    "Contest ID.";
// The output path goes between head and tail.
inline constexpr char kOutputExistsHead[] = "Output File:\r";
inline constexpr char kOutputExistsTail[] = " already exists,\rDo you wish to overwrite it?";
inline constexpr char kAdifCreatedHead[] = "ADIF File:\r";
inline constexpr char kAdifCreatedTail[] = "\rhas been created.";
}  // namespace logvane::msg

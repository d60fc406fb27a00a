// The message texts of the table engine's lower layers: definition, data
// file, keys, indexes, blob file and the engine itself. Texts are exact:
// users see them and the Tavisk program shows the same ones.
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
inline constexpr char kDuplicateKey[] = "Key violation due to duplicate record.";

// Index structure.
inline constexpr char kIndexCorrupted[] = "Index structure may be corrupted. Suggest rebuild";
// Appended to kIndexCorrupted (no blank between) by the directory's
// block-head array: the element index and the element count, or the index.
inline constexpr char kIndexL2CodeRange[] = "idx L2 code %d %d";
inline constexpr char kIndexL2Code[] = "idx L2 code %d";
// A key search that failed for any reason other than index damage.
inline constexpr char kTableMayBeCorrupted[] = "Internal error in table - table may be corrupted";

// Engine cursor, filtered navigation and table open.
inline constexpr char kCurrentRangeEmpty[] = "Current range is empty";
inline constexpr char kFilterOperations[] = "Internal error in filter operations";
inline constexpr char kCannotOpenExclusive[] = " cannot be opened for exclusive use.";
inline constexpr char kTableMayBeCorruptedRebuild[] =
    " The table may be corrupted. Suggest rebuild";

// Blob file.
inline constexpr char kBlobError[] = "Internal error in blob access";

}  // namespace logvane::msg

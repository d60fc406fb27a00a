// Keys: the order of records under an index, and the 12-byte key prefix kept
// with every entry of a large-page index so that most comparisons need no
// data read.
//
// Comparison results are integers whose sign alone matters: negative when
// the first record sorts first in the index's order. Every index breaks ties
// on the primary key (index 0), so only the primary key is unique.
//
// Null flags in a record: 0 null (sorts before every value), 1 value,
// 2 bound marker (sorts after every value; only in in-memory search and
// bound records).
#pragma once

#include <cstdint>

#include "table/table_definition.h"

namespace logvane {

inline constexpr int kKeyPrefixSize = 12;
inline constexpr uint8_t kNullFlag = 0;
inline constexpr uint8_t kValueFlag = 1;
inline constexpr uint8_t kBoundFlag = 2;

// Every function below REQUIRES: `index` names an index of `def` and every
// record buffer holds def.RecordLength() bytes.

// Computes index `index`'s key prefix layout (stored in its descriptor).
// Called for every index while the definition is read; a secondary index's
// layout uses index 0's key list, so index 0 must be read first.
void BuildPrefixLayout(TmtbTableDef& def, int index);

bool IsDescending(const TmtbTableDef& def, int index);
bool IsCaseInsensitive(const TmtbTableDef& def, int index);
// Whether `field` is one of the index's own key fields (the primary-key
// tie-break not counted).
bool IsKeyField(const TmtbTableDef& def, int index, int field);

// One field. `limit` > 0 bounds a text comparison to that many characters.
// Throws EDedaZiDBError "Internal error in table operations" for a type
// without an order and EOverflow for a float difference the 6-byte real
// cannot hold.
int CompareField(const TmtbTableDef& def, const uint8_t* x, const uint8_t* y, bool case_insensitive,
                 int index, int limit, int field);
// The index's key; with `tie_break` then the primary key.
int CompareKeys(const TmtbTableDef& def, const uint8_t* x, const uint8_t* y, bool tie_break,
                int index);

// The key prefix of `record` under `index`, written to prefix[0..11].
void BuildKeyPrefix(const TmtbTableDef& def, int index, const uint8_t* record, uint8_t* prefix);
// `record` against a stored prefix. 0 means the prefix cannot decide and the
// caller must compare full records; a nonzero result always has the sign of
// CompareKeys(record, stored record, true, index). `record` may carry bound
// markers. Throws EOverflow where the full comparison would.
int ComparePrefix(const TmtbTableDef& def, const uint8_t* record, const uint8_t* prefix, int index);

// A record that sorts before (before_all) or after every record in the
// index's order.
void MakeBoundRecord(const TmtbTableDef& def, uint8_t* record, int index, bool before_all);
// Marks every key field the caller left unset, so the record sorts before or
// after all records that agree on the set fields.
void FillMissingBounds(const TmtbTableDef& def, uint8_t* record, int index, bool before_all);

}  // namespace logvane

// What the index layer needs from the storage engine: the table definition
// for key comparisons, the data file's slot count (every record number an
// index file holds must lie below it) and a way to read a stored record.
// The engine implements it; tests implement it over a record manager.
#pragma once

#include <cstdint>

#include "table/table_definition.h"

namespace logvane {

class TKeySource {
 public:
  virtual ~TKeySource() = default;

  // The open table's definition, with the key prefix layouts built.
  virtual const TmtbTableDef& KeyTableDef() const = 0;
  // The number of record slots in the data file. Asked at every leaf page
  // read and directory probe: answer from memory (the record manager's
  // SlotCount), not with a file call.
  virtual int32_t KeySlotCount() = 0;
  // Reads stored record n into a buffer the source owns and returns it; the
  // buffer stays valid until the next call. REQUIRES: 0 <= n <
  // KeySlotCount() (the index layer checks before it calls). The buffer must
  // not be the search record a caller hands to FindKey. May throw; FindKey
  // reports such failures as a damaged table.
  virtual const uint8_t* LoadKeyRecord(int32_t n) = 0;
};

}  // namespace logvane

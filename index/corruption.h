// Reporting damage found in index files. Index files are untrusted input:
// every count, page number and record number read from them is checked
// before it is used, and a bad one is reported here instead of being
// followed. Every report carries "Index structure may be corrupted. Suggest
// rebuild" and is a TIndexDamage, whatever its class; the class tells where
// it was found.
#pragma once

#include "base/errors.h"

namespace logvane {

// What every index damage report is, beside its class: catch it to tell
// damage apart from other failures.
class TIndexDamage {
 public:
  virtual ~TIndexDamage() = default;
};

// Damage reported as EDedaZiDBError: page reads and writes, entry counts,
// page and record numbers, small-page directory positions.
class EIndexCorrupted : public EDedaZiDBError, public TIndexDamage {
 public:
  EIndexCorrupted();
};

// Damage reported as the plain Exception: large-page directory probes and
// block-head checks.
class EIndexCorruptedPlain : public Exception, public TIndexDamage {
 public:
  explicit EIndexCorruptedPlain(const std::string& code = {});
};

[[noreturn]] void RaiseIndexCorrupted();
[[noreturn]] void RaiseIndexCorruptedPlain();
// "idx L2 code <index> <count>" appended: a block-head element outside
// 0 .. count - 1.
[[noreturn]] void RaiseBlockHeadRange(int index, int count);
// "idx L2 code <index>" appended: a block-head key prefix outside the array.
[[noreturn]] void RaiseBlockHeadPrefix(int index);

}  // namespace logvane

// Reporting damage found in index files. Index files are untrusted input:
// every count, page number and record number read from them is checked
// before it is used, and a bad one is reported here instead of being
// followed. Every report carries "Index structure may be corrupted. Suggest
// rebuild"; the class tells where it was found.
#pragma once

#include <exception>

namespace logvane {

// EDedaZiDBError: page reads and writes, entry counts, page and record
// numbers, small-page directory positions.
[[noreturn]] void RaiseIndexCorrupted();
// The plain Exception: large-page directory probes and block-head checks.
[[noreturn]] void RaiseIndexCorruptedPlain();
// Plain Exception with "idx L2 code <index> <count>" appended: a block-head
// element outside 0 .. count - 1.
[[noreturn]] void RaiseBlockHeadRange(int index, int count);
// Plain Exception with "idx L2 code <index>" appended: a block-head key
// prefix outside the array.
[[noreturn]] void RaiseBlockHeadPrefix(int index);

// Whether `e` reports index damage (its text starts with the index text).
bool IsIndexCorruption(const std::exception& e);

}  // namespace logvane

// Index damage reports.
#include "index/corruption.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "base/messages.h"

namespace logvane {

void RaiseIndexCorrupted() { throw EDedaZiDBError(msg::kIndexCorrupted); }

void RaiseIndexCorruptedPlain() { throw Exception(msg::kIndexCorrupted); }

void RaiseBlockHeadRange(int index, int count) {
  char code[48];
  std::snprintf(code, sizeof code, msg::kIndexL2CodeRange, index, count);
  throw Exception(std::string(msg::kIndexCorrupted) + code);
}

void RaiseBlockHeadPrefix(int index) {
  char code[32];
  std::snprintf(code, sizeof code, msg::kIndexL2Code, index);
  throw Exception(std::string(msg::kIndexCorrupted) + code);
}

bool IsIndexCorruption(const std::exception& e) {
  return std::strncmp(e.what(), msg::kIndexCorrupted, sizeof msg::kIndexCorrupted - 1) == 0;
}

}  // namespace logvane

// Index damage reports.
#include "index/corruption.h"

#include <cstdio>
#include <string>

#include "base/messages.h"

namespace logvane {

EIndexCorrupted::EIndexCorrupted() : EDedaZiDBError(msg::kIndexCorrupted) {}

EIndexCorruptedPlain::EIndexCorruptedPlain(const std::string& code)
    : Exception(msg::kIndexCorrupted + code) {}

void RaiseIndexCorrupted() { throw EIndexCorrupted(); }

void RaiseIndexCorruptedPlain() { throw EIndexCorruptedPlain(); }

void RaiseBlockHeadRange(int index, int count) {
  char code[48];
  std::snprintf(code, sizeof code, msg::kIndexL2CodeRange, index, count);
  throw EIndexCorruptedPlain(code);
}

void RaiseBlockHeadPrefix(int index) {
  char code[32];
  std::snprintf(code, sizeof code, msg::kIndexL2Code, index);
  throw EIndexCorruptedPlain(code);
}

}  // namespace logvane

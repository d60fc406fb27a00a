// The engine's key search over one index.
#include "index/find_key.h"

#include <exception>

#include "base/messages.h"
#include "index/corruption.h"
#include "platform/exceptions.h"
#include "table/keys.h"

namespace logvane {

namespace {

// A search halves its range at every step: 31 steps cover any directory
// and 8 any page. More means the structure is not what it claims.
constexpr int kMaxSearchSteps = 80;

}  // namespace

TKeyHit FindKey(TIndex& index, TKeySource& source, const uint8_t* search) {
  try {
    const TmtbTableDef& def = source.KeyTableDef();
    const int number = index.IndexNumber();
    TKeyHit hit;
    int steps = 0;
    index.SearchBegin();
    while (!index.SearchDone()) {
      if (++steps > kMaxSearchSteps) RaiseIndexCorrupted();
      const TSearchProbe probe = index.SearchProbe();
      int c = probe.prefix != nullptr ? ComparePrefix(def, search, probe.prefix, number) : 0;
      if (c == 0) c = CompareKeys(def, search, source.LoadKeyRecord(probe.record), true, number);
      index.SearchNarrow(c);
      if (c == 0) hit.exact = true;
    }
    hit.record = index.SearchResult();
    return hit;
  } catch (const TIndexDamage&) {
    throw;
  } catch (const std::exception&) {
    throw Exception(msg::kTableMayBeCorrupted);
  }
}

}  // namespace logvane

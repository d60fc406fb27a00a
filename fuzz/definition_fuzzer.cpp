// Fuzz target: the table definition reader, and the key order of the
// records it describes.
//
// The input is a definition file; the bytes after the entries the
// definition uses are taken as two record images. A definition that reads
// must keep its promises (table_definition.h): every field slot after the
// null flags, inside the record and wide enough for its type; every key
// field a field of the table; every prefix segment inside the 12-byte
// prefix. For the two records every index's comparison must be
// antisymmetric, and a key prefix that decides must decide as the full
// comparison does for a stored record (keys.h). A broken promise aborts: it is a finding like a
// sanitizer report.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/scratch_folder.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "table/keys.h"
#include "table/table_definition.h"

namespace logvane::fuzz {
namespace {

[[noreturn]] void Broken(const char* promise) {
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

void Expect(bool kept, const char* promise) {
  if (!kept) Broken(promise);
}

int Sign(int v) { return (v > 0) - (v < 0); }

void CheckDefinition(const TmtbTableDef& def) {
  const int fields = def.FieldCount();
  for (int f = 0; f < fields; ++f) {
    const TmtbFieldDesc& d = def.Field(f);
    Expect(d.offset >= fields, "a field slot lies after the null flags");
    Expect(d.offset + d.size <= def.RecordLength(), "a field slot lies inside the record");
    Expect(d.size >= StoredWidth(d.type_code), "a field slot holds its type's stored form");
    bool present = false;
    for (int kind = 0; kind <= 4; ++kind) def.FieldAttribute(f, kind, &present);
  }
  for (int i = 0; i < def.IndexCount(); ++i) {
    const TmtbIndexDesc& x = def.Index(i);
    Expect(x.key_field_count >= 1 && x.key_field_count <= kMaxKeyFields, "key field count");
    for (int k = 0; k < x.key_field_count; ++k)
      Expect(x.key_fields[k] >= 0 && x.key_fields[k] < fields, "a key field is a field");
    Expect(x.prefix_segment_count >= 0 && x.prefix_segment_count <= kMaxPrefixSegments,
           "prefix segment count");
    for (int s = 0; s < x.prefix_segment_count; ++s) {
      const TKeyPrefixSegment& seg = x.prefix_segments[s];
      Expect(seg.field >= 0 && seg.field < fields, "a prefix segment names a field");
      Expect(seg.offset + seg.length <= kKeyPrefixSize, "a prefix segment lies in the prefix");
    }
    Expect(def.IndexNumber(x.name) <= i, "the first index of a name is found");
  }
  Expect(def.IndexCount() == 0 || (def.Index(0).options & kIndexPrimary) != 0,
         "index 0 is primary");
}

// Returns the comparison's sign, or 2 when it raised the table's error.
int Compared(const TmtbTableDef& def, const uint8_t* x, const uint8_t* y, int index) {
  try {
    return Sign(CompareKeys(def, x, y, true, index));
  } catch (const Exception&) {
    return 2;
  }
}

void CheckKeys(const TmtbTableDef& def, const uint8_t* x, const uint8_t* y) {
  uint8_t prefix[kKeyPrefixSize];
  for (int i = 0; i < def.IndexCount(); ++i) {
    const int xy = Compared(def, x, y, i);
    const int yx = Compared(def, y, x, i);
    if (xy != 2 && yx != 2) Expect(xy == -yx, "key comparison is antisymmetric");
    // A stored prefix knows a field only as null or a value: a stored
    // record whose flag is anything else (a damaged record) has none that
    // can agree.
    const TmtbIndexDesc& d = def.Index(i);
    bool stored_flags = true;
    for (int s = 0; s < d.prefix_segment_count; ++s)
      stored_flags = stored_flags && y[d.prefix_segments[s].field] <= kValueFlag;
    if (!stored_flags) continue;
    BuildKeyPrefix(def, i, y, prefix);
    int by_prefix = 0;
    try {
      by_prefix = Sign(ComparePrefix(def, x, prefix, i));
    } catch (const Exception&) {
      continue;
    }
    if (by_prefix != 0 && xy != 2) Expect(by_prefix == xy, "a deciding prefix agrees");
  }
}

}  // namespace
}  // namespace logvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace logvane;
  static fuzz::TScratchFolder folder;
  static const std::string path = folder.File("T.mti");
  fuzz::TScratchFolder::Write(path, std::string_view(reinterpret_cast<const char*>(data), size));

  platform::File file;
  if (file.Open(path, platform::kAccessRead | platform::kShareDenyNone) != 0) std::abort();
  TmtbTableDef def;
  try {
    ReadTableDefinition(file, def);
  } catch (const Exception&) {
    return 0;
  }
  fuzz::CheckDefinition(def);

  const size_t used =
      static_cast<size_t>(1 + def.FieldCount() + def.IndexCount()) * kDefinitionEntrySize;
  const size_t length = static_cast<size_t>(def.RecordLength());
  if (size < used + 2 * length) return 0;
  // Each image in a buffer of its own size, so that reading past a record
  // is seen.
  const std::vector<uint8_t> x(data + used, data + used + length);
  const std::vector<uint8_t> y(data + used + length, data + used + 2 * length);
  fuzz::CheckKeys(def, x.data(), y.data());
  return 0;
}

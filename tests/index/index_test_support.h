// Helpers for the index tests: a key source over a real data file, random
// tables of every comparable field type, and a table opened the way the
// engine opens it (definition, data file, index manager).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/errors.h"
#include "index/index_check.h"
#include "index/index_manager.h"
#include "index/key_source.h"
#include "platform/file.h"
#include "table/keys.h"
#include "table/record_manager.h"
#include "table/table_definition.h"
#include "test_support.h"
#include "tools/index_builder.h"
#include "tools/table_writer.h"

namespace logvane::test {

// Reads records through a record manager, as the engine will.
class TDataSource : public TKeySource {
 public:
  void Open(const std::string& mti_path) {
    platform::File f;
    if (f.Open(mti_path, platform::kAccessRead | platform::kShareDenyNone) != 0)
      throw Exception("no " + mti_path);
    ReadTableDefinition(f, def_);
    records_.OpenDataFile(platform::ChangeFileExt(mti_path, ".MTD"), def_.RecordLength());
    scratch_.assign(def_.RecordLength(), 0);
  }
  const TmtbTableDef& KeyTableDef() const override { return def_; }
  int32_t KeySlotCount() override { return records_.SlotCount(); }
  const uint8_t* LoadKeyRecord(int32_t n) override {
    ++loads_;
    records_.ReadRecord(scratch_.data(), n);
    return scratch_.data();
  }
  const TmtbTableDef& Def() const { return def_; }
  int64_t Loads() const { return loads_; }

 private:
  TmtbTableDef def_;
  TmtbRecMgr records_;
  std::vector<uint8_t> scratch_;
  int64_t loads_ = 0;
};

// A table on disk: definition, data file and (after Build) index files.
struct TTestTable {
  TempDir dir;
  std::string mti = dir.File("T.mti");
  tools::TableDescription desc;
  std::vector<std::vector<uint8_t>> slots;

  void Build(const tools::IndexBuildOptions& options = {}) {
    tools::WriteDefinition(mti, desc);
    tools::WriteDataFile(platform::ChangeFileExt(mti, ".MTD"), slots);
    tools::BuildIndexes(mti, options);
  }
  std::vector<int32_t> Live() const {
    std::vector<int32_t> live;
    for (size_t n = 0; n < slots.size(); ++n)
      if (slots[n][0] != kFreeRecordMarker) live.push_back(static_cast<int32_t>(n));
    return live;
  }
};

// Builds the table so that its data file holds every record of `t.slots`
// while its indexes list only the live records whose slots are not in
// `absent`: those records can then be inserted. The counters show no free
// record and an autoincrement value above every stored one.
inline void BuildWithout(TTestTable& t, const std::vector<int32_t>& absent,
                         tools::IndexBuildOptions options = {}) {
  std::vector<std::vector<uint8_t>> all = t.slots;
  for (int32_t r : absent) t.slots[r] = tools::FreeRecordImage(t.desc.RecordLength(), -1);
  options.free_records = 0;
  options.first_free_record = -1;
  options.next_autoinc = 2000000000;
  t.Build(options);
  t.slots = std::move(all);
  tools::WriteDataFile(platform::ChangeFileExt(t.mti, ".MTD"), t.slots);
}

// A table opened as the engine opens it.
struct TOpenTable {
  TDataSource source;
  TDaroVivuvIndex indexes{source};
  int opened = 0;

  explicit TOpenTable(const std::string& mti) {
    source.Open(mti);
    opened = indexes.OpenAll(mti, source.Def().IndexCount(), source.Def().FormatLevel());
  }
};

// The consistency check of every index of an open table, whose live records
// are those marked in `live`; its in-memory state is compared too.
inline std::vector<std::string> CheckAll(TOpenTable& open, const std::string& mti,
                                         const std::vector<bool>& live) {
  std::vector<std::string> problems;
  for (int i = 0; i < open.indexes.IndexCount(); ++i) {
    TIndexCheckInput in;
    in.table_path = mti;
    in.index = i;
    in.live = &live;
    in.open_index = &open.indexes.IndexAt(i);
    for (std::string& line : CheckIndex(in, open.source)) problems.push_back(std::move(line));
  }
  return problems;
}

// The index's records in cursor order, walked forward or backward.
inline std::vector<int32_t> Walk(TIndex& ix, bool forward) {
  std::vector<int32_t> order;
  const int32_t n = ix.KeyCount();
  int32_t r = forward ? ix.FirstEntry() : ix.LastEntry();
  for (int32_t k = 0; k < n; ++k) {
    if (k > 0) {
      if (forward)
        ix.StepForward();
      else
        ix.StepBack();
      r = ix.CurrentEntry();
    }
    order.push_back(r);
  }
  if (!forward) std::reverse(order.begin(), order.end());
  return order;
}

// The expected order of `index`: the live records sorted by the full key.
inline std::vector<int32_t> ExpectedOrder(const TmtbTableDef& def, const TTestTable& t, int index) {
  std::vector<int32_t> order = t.Live();
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return CompareKeys(def, t.slots[a].data(), t.slots[b].data(), true, index) < 0;
  });
  return order;
}

inline int Sign(int v) { return (v > 0) - (v < 0); }

// Random tables. Field 0 is a unique integer (the primary key's first
// field); the other fields take every comparable type, with small value
// domains so that secondary keys repeat, and nulls.
class TRandomTables {
 public:
  explicit TRandomTables(uint32_t seed) : rng_(seed) {}

  tools::TableDescription Spec(double version) {
    static const char kTypes[] = {'I', 'B', 'C', 'D', 'F', 'R', 'S', 'S', 'A'};
    tools::TableDescription desc;
    desc.format_version = version;
    desc.fields.push_back(tools::MakeField("Id", 'I'));
    const int extra = Uniform(3, 7);
    bool autoinc = false;
    for (int k = 1; k <= extra; ++k) {
      char type = kTypes[Uniform(0, sizeof kTypes - 1)];
      if (type == 'A' && autoinc) type = 'I';
      autoinc |= type == 'A';
      // Text fields both shorter and longer than a key prefix.
      desc.fields.push_back(
          tools::MakeField("F" + std::to_string(k), type, type == 'S' ? Uniform(2, 20) : 0));
    }
    const int options0 = kIndexPrimary | (Chance(0.3) ? kIndexDescending : 0) |
                         (Chance(0.3) ? kIndexCaseInsensitive : 0);
    std::vector<int> primary = {0};
    if (Chance(0.3)) primary.push_back(Uniform(1, extra));
    desc.indexes.push_back({"Primary", primary, static_cast<double>(options0)});
    const int secondary = Uniform(1, 4);
    for (int i = 1; i <= secondary; ++i) {
      std::vector<int> keys;
      const int n = Uniform(1, 3);
      for (int k = 0; k < n; ++k) keys.push_back(Uniform(1, extra));
      const int options =
          (Chance(0.4) ? kIndexDescending : 0) | (Chance(0.4) ? kIndexCaseInsensitive : 0);
      desc.indexes.push_back({"Ix" + std::to_string(i), keys, static_cast<double>(options)});
    }
    desc.LayOut();
    return desc;
  }

  // A live record with primary value `id`.
  std::vector<uint8_t> Record(const tools::TableDescription& desc, int32_t id) {
    tools::TRecordBuilder r(desc);
    r.Clear().SetInt(0, id);
    for (size_t f = 1; f < desc.fields.size(); ++f) {
      const int field = static_cast<int>(f);
      if (Chance(0.12)) continue;       // null
      const bool narrow = Chance(0.6);  // from a small domain: equal keys
      switch (desc.fields[f].type) {
        case 'A':
        case 'I': r.SetInt(field, narrow ? Uniform(-3, 3) : Uniform(-1000000, 1000000)); break;
        case 'B': r.SetBool(field, Chance(0.5)); break;
        case 'C':
        case 'D':
        case 'F':
        case 'R':
          r.SetFloat(field, narrow ? Uniform(-2, 2) * 0.5 : Uniform(-1000000, 1000000) / 7.0);
          break;
        case 'S': r.SetString(field, Text(narrow ? 3 : desc.fields[f].size)); break;
      }
    }
    return r.Image();
  }

  // `live` records with distinct ids and about `free_share` free slots,
  // chained in slot order.
  std::vector<std::vector<uint8_t>> Slots(const tools::TableDescription& desc, int live,
                                          double free_share) {
    std::vector<std::vector<uint8_t>> slots;
    std::set<int32_t> ids;
    std::vector<size_t> free;
    while (static_cast<int>(ids.size()) < live) {
      if (Chance(free_share)) {
        free.push_back(slots.size());
        slots.push_back({});
        continue;
      }
      int32_t id;
      do id = Uniform(-5000000, 5000000);
      while (!ids.insert(id).second);
      slots.push_back(Record(desc, id));
    }
    for (size_t k = 0; k < free.size(); ++k)
      slots[free[k]] = tools::FreeRecordImage(
          desc.RecordLength(), k + 1 < free.size() ? static_cast<int32_t>(free[k + 1]) : -1);
    return slots;
  }

  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  std::mt19937& Rng() { return rng_; }

 private:
  // Letters of both cases, a digit and an 8-bit letter, so that folding
  // matters and bytes outside a-z stay unfolded.
  std::string Text(int size) {
    static const char kChars[] = "aAbBzZ0\xD8";
    std::string s(static_cast<size_t>(Uniform(0, std::max(size - 1, 0))), ' ');
    for (char& c : s) c = kChars[Uniform(0, sizeof kChars - 2)];
    return s;
  }

  std::mt19937 rng_;
};

}  // namespace logvane::test

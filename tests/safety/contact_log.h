// A contact log for the safety tests. It is the write-path contact table
// (Id primary, Call, Band, Freq, Serial autoincrement, Notes memo) whose rows
// follow from two numbers, the id and a generation, so that anyone holding a
// row can tell whether it is one that was ever written or a mixture of
// several. Changes are made through the table cursor's edit cycle, as a
// program using the cursor makes them; a seeded stream chooses them; and a
// model keeps the rows that completed changes left, beside the change in
// progress, whose row may or may not have reached the files.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "component/daro_vivuv.h"
#include "engine/table_check.h"
#include "engine/table_rebuild.h"
#include "engine/write_table.h"

namespace logvane::test {

// The row of `id` in generation `gen`: the call names both, the memo (none
// in every fourth generation) repeats them.
inline TRow ContactRow(int32_t id, int32_t gen) {
  TRow row;
  row.id = id;
  row.call = "K" + std::to_string(id) + "G" + std::to_string(gen);
  row.band = (id + gen) % 7;
  row.freq = 7.0 + id * 0.001 + gen;
  if (gen % 4 != 3) {
    const std::string unit = "id " + std::to_string(id) + " gen " + std::to_string(gen) + ";";
    const size_t length = 40 + static_cast<size_t>(id * 31 + gen * 97) % 1400;
    while (row.notes.size() < length) row.notes += unit;
    row.notes.resize(length);
  }
  return row;
}

// The generation a row's call names; -1 when the call is not of that form.
inline int32_t GenerationOf(const TRow& row) {
  const std::string head = "K" + std::to_string(row.id) + "G";
  if (row.call.compare(0, head.size(), head) != 0 || row.call.size() == head.size()) return -1;
  int32_t gen = 0;
  for (size_t i = head.size(); i < row.call.size(); ++i) {
    if (row.call[i] < '0' || row.call[i] > '9' || gen > 100000) return -1;
    gen = gen * 10 + (row.call[i] - '0');
  }
  return gen;
}

// The generation of a row whose values come from several generations.
inline constexpr int32_t kMixedRow = -2;

// Whether `row` (its serial aside) is a row that was written.
inline bool IsWrittenRow(const TRow& row) {
  const int32_t gen = GenerationOf(row);
  if (gen < 0) return false;
  TRow expected = ContactRow(row.id, gen);
  expected.serial = row.serial;
  return expected == row;
}

// Writes a log of `rows` rows, ids 1 .. rows in generation 0, into `t`, in
// the small-page format (version 2.0) or the large-page one (4.0).
inline void MakeContactLog(TTestTable& t, double version, int rows) {
  std::vector<std::optional<TRow>> slots;
  for (int32_t id = 1; id <= rows; ++id) {
    TRow row = ContactRow(id, 0);
    row.serial = id;
    slots.push_back(row);
  }
  MakeWriteTable(t, version, slots);
}

// ---- Changes through the table cursor ---------------------------------------

inline void OpenLogForWriting(TDaroVivuv& log, const std::string& mti) {
  log.SetName("LogTabl");
  log.SetTableName(mti);
  log.SetReadOnly(false);
  log.SetReadBesideWriter(false);
  log.Open();
}

inline void SetRowFields(TDaroVivuv& log, const TRow& row) {
  log.FieldByName("Call").SetAsString(row.call);
  log.FieldByName("Band").SetAsInteger(row.band);
  log.FieldByName("Freq").SetAsFloat(row.freq);
  if (row.notes.empty())
    log.FieldByName("Notes").Clear();
  else
    log.FieldByName("Notes").SetAsString(row.notes);
}

inline void AppendContact(TDaroVivuv& log, const TRow& row) {
  log.Append();
  log.FieldByName("Id").SetAsInteger(row.id);
  SetRowFields(log, row);
  log.Post();
}

// Raises when the id is not in the table.
inline void GoToContact(TDaroVivuv& log, int32_t id) {
  if (!log.Locate("Id", {TVariant::Integer(id)}))
    throw Exception("contact " + std::to_string(id) + " is missing");
}

inline void UpdateContact(TDaroVivuv& log, const TRow& row) {
  GoToContact(log, row.id);
  log.Edit();
  SetRowFields(log, row);
  log.Post();
}

inline void DeleteContact(TDaroVivuv& log, int32_t id) {
  GoToContact(log, id);
  log.Delete();
}

// The current record of `log` as a row.
inline TRow CurrentContact(TDataSet& log) {
  TRow row;
  log.FieldByName("Id").GetData(&row.id);
  row.call = log.FieldByName("Call").AsString();
  log.FieldByName("Band").GetData(&row.band);
  log.FieldByName("Freq").GetData(&row.freq);
  log.FieldByName("Serial").GetData(&row.serial);
  row.notes = log.FieldByName("Notes").AsString();
  return row;
}

// ---- The seeded stream and the model ------------------------------------------

enum class TChangeKind : int32_t { kAppend = 1, kUpdate = 2, kDelete = 3 };

// One change, as the writer reports it once it is complete.
struct TChange {
  TChangeKind kind = TChangeKind::kAppend;
  int32_t id = 0;
  int32_t gen = 0;
};

// Chooses changes: about half appends of new ids, a third updates (the next
// generation of a live row), the rest deletes; never a change the table
// would refuse. `Apply` keeps its live rows.
class TChangeStream {
 public:
  TChangeStream(uint32_t seed, int initial_rows) : rng_(seed), next_id_(initial_rows + 1) {
    for (int32_t id = 1; id <= initial_rows; ++id) live_[id] = 0;
  }

  TChange Next() {
    const int roll = static_cast<int>(rng_() % 100);
    if (live_.empty() || roll < 48) return {TChangeKind::kAppend, next_id_, 0};
    auto it = live_.begin();
    std::advance(it, static_cast<long>(rng_() % live_.size()));
    if (roll < 82) return {TChangeKind::kUpdate, it->first, it->second + 1};
    return {TChangeKind::kDelete, it->first, it->second};
  }

  void Apply(const TChange& c) {
    if (c.kind == TChangeKind::kDelete)
      live_.erase(c.id);
    else
      live_[c.id] = c.gen;
    if (c.kind == TChangeKind::kAppend) next_id_ = c.id + 1;
  }

 private:
  std::mt19937 rng_;
  int32_t next_id_;
  std::map<int32_t, int32_t> live_;  // id -> generation
};

// Carries out `c` on a table open for writing.
inline void MakeChange(TDaroVivuv& log, const TChange& c) {
  switch (c.kind) {
    case TChangeKind::kAppend: AppendContact(log, ContactRow(c.id, c.gen)); break;
    case TChangeKind::kUpdate: UpdateContact(log, ContactRow(c.id, c.gen)); break;
    case TChangeKind::kDelete: DeleteContact(log, c.id); break;
  }
}

// The rows completed changes left (id -> generation) and the change that
// may have been under way.
struct TLogModel {
  std::map<int32_t, int32_t> live;
  std::optional<TChange> pending;

  explicit TLogModel(int initial_rows) {
    for (int32_t id = 1; id <= initial_rows; ++id) live[id] = 0;
  }
  void Complete(const TChange& c) {
    if (c.kind == TChangeKind::kDelete)
      live.erase(c.id);
    else
      live[c.id] = c.gen;
  }

  // What is wrong with `found` (id -> generation, as a table holds them)
  // beside the model: a row that completed changes left and that is missing
  // or in another generation, a deleted row still there, or a row that was
  // never written. The pending change may or may not have happened; an
  // update under way may have left its row part old, part new (the memo is
  // rewritten in place before the record), as a writer without a journal
  // does.
  std::vector<std::string> Differences(const std::map<int32_t, int32_t>& found) const {
    std::vector<std::string> wrong;
    auto allowed = [&](int32_t id, std::optional<int32_t> gen) {
      auto it = live.find(id);
      const std::optional<int32_t> done =
          it == live.end() ? std::nullopt : std::optional<int32_t>(it->second);
      if (gen == done) return true;
      if (!pending || pending->id != id) return false;
      if (pending->kind == TChangeKind::kDelete) return !gen;
      return gen == pending->gen || (pending->kind == TChangeKind::kUpdate && gen == kMixedRow);
    };
    for (const auto& [id, gen] : live)
      if (!found.count(id) && !allowed(id, std::nullopt))
        wrong.push_back("row " + std::to_string(id) + " is missing");
    for (const auto& [id, gen] : found)
      if (!allowed(id, gen))
        wrong.push_back("row " + std::to_string(id) + " in generation " + std::to_string(gen) +
                        " should not be there");
    return wrong;
  }
};

// ---- Reading a log back ---------------------------------------------------------

// A log as a read-only open finds it.
struct TLogContents {
  int32_t open_code = 0;            // the open's result
  std::string failure;              // why the open or a walk failed; empty when neither did
  std::map<int32_t, int32_t> rows;  // id -> generation or kMixedRow, from index 0
  std::vector<std::string> wrong;   // indexes that disagree or list a row twice
};

// Opens the log read-only and walks every index, reading each record whole.
inline TLogContents ReadLog(const std::string& mti) {
  TLogContents c;
  TmtbDBEng eng;
  c.open_code = eng.OpenTable(mti, kOpenReadShared, 0);
  if (c.open_code < 0) {
    c.failure = eng.LastOpenFailure().Describe();
    return c;
  }
  try {
    for (int i = 0; i < eng.Definition().IndexCount(); ++i) {
      eng.SetCurrentIndex(i);
      std::map<int32_t, int32_t> rows;
      size_t entries = 0;
      for (eng.First(); !eng.IsEOF(); eng.Next(), ++entries) {
        const TRow row = ReadRow(eng, eng.CurrentRecordNumber());
        rows[row.id] = IsWrittenRow(row) ? GenerationOf(row) : kMixedRow;
      }
      if (entries != rows.size())
        c.wrong.push_back("index " + std::to_string(i) + " lists a row twice");
      if (i == 0)
        c.rows = std::move(rows);
      else if (rows != c.rows)
        c.wrong.push_back("index " + std::to_string(i) + " holds other rows than index 0");
    }
  } catch (const Exception& e) {
    c.failure = e.what();
  }
  eng.CloseTable();
  return c;
}

// Rebuilds the log, then checks it and reads it back. `problems` receives
// what went wrong: a rebuild that did not finish, anything the check finds
// afterwards, a walk that fails.
inline TLogContents RebuildAndRead(const std::string& mti, std::vector<std::string>* problems) {
  const TRebuildResult rebuilt = RebuildTable(mti);
  if (rebuilt.status != TRebuildStatus::kRebuilt) {
    problems->push_back("rebuild: " + rebuilt.message);
    return {};
  }
  const TTableCheckReport report = CheckTable(mti);
  for (const std::string& p : report.problems) problems->push_back("check after rebuild: " + p);
  TLogContents c = ReadLog(mti);
  if (!c.failure.empty()) problems->push_back("read after rebuild: " + c.failure);
  for (const std::string& w : c.wrong) problems->push_back("read after rebuild: " + w);
  return c;
}

}  // namespace logvane::test

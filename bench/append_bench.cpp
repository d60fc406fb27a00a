// The engine appending contacts one record at a time into an empty
// large-page contact log with three indexes (the serial number, the call
// case-insensitively, date and time), a memo on one contact in ten: appends
// per second, peak resident memory after a tenth of the run and at its end
// and the private part of it (the rest are the pages of the index files the
// writer maps, which belong to the system's file cache),
// and heap allocations per append; then the table check runs over the
// result. In the same run the sqlite3 shell inserts
// the same rows into a table with the same indexes inside one transaction;
// the ratio of the two rates is printed. Last, the same contacts written as
// JSON lines are loaded into another empty log by the code of
// `logvane-cli load` (the table cursor's edit cycle over the engine).
//
//   append_bench [COUNT] [--engine-only]   (--engine-only: no check, no
//                                          sqlite3, no load)
//                             (default 1,000,000; data in
//                              $LOGVANE_BENCH_DATA/append, default
//                              ./bench-data/append, made afresh each run)
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/byte_order.h"
#include "bench/bench_support.h"
#include "cli/table_change.h"
#include "engine/db_engine.h"
#include "engine/table_check.h"
#include "platform/process_memory.h"
#include "tools/blob_writer.h"
#include "tools/contact_log.h"
#include "tools/index_builder.h"

namespace {

using logvane::TmtbDBEng;
using logvane::TmtbTableDef;

using enum logvane::tools::LogField;
using namespace logvane::bench;

const char kMemo[] = "Worked on a quiet band, good copy";

// Contact i, as plain values: the same data for the engine and for sqlite3.
struct TContact {
  int32_t num_sent;
  char call[16];
  double qso_date;
  char time_start[8];
  double freq;
  const char* mode;
  const char* name;
  const char* city;
  const char* state;
  const char* country;
  const char* continent;
  const char* rst_sent;
  const char* rst_rcvd;
  int32_t num_rcvd;
  bool ibm;
  bool retired;
  const char* comments;  // null: no memo
};

void MakeContact(int i, TContact& c) {
  uint64_t r = (static_cast<uint64_t>(i) + 1) * 0x9E3779B97F4A7C15ULL;
  r ^= r >> 29;
  c.num_sent = i + 1;
  std::snprintf(c.call, sizeof c.call, "%s%d%c%c%c", Pick(kPrefixes, r),
                static_cast<int>((r >> 8) % 10), static_cast<char>('A' + (r >> 12) % 26),
                static_cast<char>('A' + (r >> 17) % 26), static_cast<char>('A' + (r >> 22) % 26));
  c.qso_date = 37758.0 + i / 2000;
  std::snprintf(c.time_start, sizeof c.time_start, "%02d%02d", static_cast<int>((r >> 27) % 24),
                static_cast<int>((r >> 32) % 60));
  c.freq = kBands[(r >> 36) % 6] + static_cast<double>((r >> 40) % 300) / 1000.0;
  c.mode = (r >> 44) % 3 ? "CW" : "SSB";
  c.name = Pick(kNames, r >> 46);
  c.city = Pick(kCities, r >> 48);
  const size_t country = (r >> 50) % 12;
  c.country = kCountries[country];
  c.continent = kContinents[country];
  c.state = country == 0 ? "CO" : "";
  c.rst_sent = "599";
  c.rst_rcvd = (r >> 54) % 4 ? "599" : "579";
  c.num_rcvd = static_cast<int32_t>(r >> 56) + 1;
  c.ibm = (r >> 58) % 7 == 0;
  c.retired = (r >> 60) % 11 == 0;
  c.comments = i % 10 == 0 ? kMemo : nullptr;
}

// The contact's record image, written straight into the engine's buffer.
class TImageWriter {
 public:
  TImageWriter(const TmtbTableDef& def, uint8_t* image) : def_(def), image_(image) {}
  void Clear() { std::memset(image_, 0, static_cast<size_t>(def_.RecordLength())); }
  void Int(int f, int32_t v) {
    image_[f] = 1;
    logvane::PutInt32(image_ + def_.Field(f).offset, v);
  }
  void Double(int f, double v) {
    image_[f] = 1;
    std::memcpy(image_ + def_.Field(f).offset, &v, sizeof v);
  }
  void Bool(int f, bool v) {
    image_[f] = 1;
    image_[def_.Field(f).offset] = v ? 1 : 0;
  }
  void Text(int f, const char* v) {
    const size_t n = std::min(std::strlen(v), static_cast<size_t>(def_.Field(f).size - 1));
    image_[f] = 1;
    std::memcpy(image_ + def_.Field(f).offset, v, n);
    image_[def_.Field(f).offset + n] = 0;
  }

 private:
  const TmtbTableDef& def_;
  uint8_t* image_;
};

void WriteImage(const TContact& c, TImageWriter& w) {
  w.Clear();
  w.Int(kNumSent, c.num_sent);
  w.Text(kCall, c.call);
  w.Double(kQsoDate, c.qso_date);
  w.Text(kTimeStart, c.time_start);
  w.Double(kFreq, c.freq);
  w.Text(kMode, c.mode);
  w.Text(kName, c.name);
  w.Text(kCity, c.city);
  w.Text(kState, c.state);
  w.Text(kCountry, c.country);
  w.Text(kContinent, c.continent);
  w.Text(kRstSent, c.rst_sent);
  w.Text(kRstRcvd, c.rst_rcvd);
  w.Int(kNumRcvd, c.num_rcvd);
  w.Bool(kIbm, c.ibm);
  w.Bool(kRetired, c.retired);
}

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double MiB(int64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// An empty contact log of large pages with the third index.
std::string MakeEmptyLog(const std::filesystem::path& folder) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  logvane::tools::TableDescription desc = logvane::tools::ContactLogDescription(4.0);
  desc.indexes.push_back({"DateTime", {kQsoDate, kTimeStart}, 0});
  const std::string mti = (folder / "LogTabl.mti").string();
  logvane::tools::WriteDefinition(mti, desc);
  logvane::tools::WriteDataFile((folder / "LogTabl.MTD").string(), {});
  logvane::tools::WriteBlobFile((folder / "LogTabl.blb").string(), {});
  logvane::tools::BuildIndexes(mti);
  return mti;
}

struct TEngineRun {
  double seconds = 0;
  double close_seconds = 0;
  int64_t allocations = 0;
  int64_t peak_tenth = 0;
  int64_t peak_end = 0;
  int64_t private_tenth = 0;
  int64_t private_end = 0;
  int32_t records = 0;
};

TEngineRun RunEngine(const std::string& mti, int count) {
  TEngineRun run;
  TmtbDBEng eng;
  if (eng.OpenTable(mti, logvane::kOpenWriteShared, 0) < 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", mti.c_str(),
                 eng.LastOpenFailure().Describe().c_str());
    std::exit(1);
  }
  uint8_t* image = eng.WorkBuffer(0);
  TImageWriter writer(eng.Definition(), image);
  TContact c{};
  logvane::platform::ResetPeakResident();
  const int64_t allocations = Allocations();
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    MakeContact(i, c);
    WriteImage(c, writer);
    eng.BlobHolders().Reset();
    if (c.comments != nullptr) {
      using logvane::TBlobRequest;
      logvane::TBlob* h = eng.BlobAccess(TBlobRequest::kLoad, kComments, image, -1, nullptr,
                                         nullptr, 0, 0, nullptr);
      eng.BlobAccess(TBlobRequest::kWrite, kComments, image, -1, const_cast<char*>(c.comments), h,
                     static_cast<int64_t>(sizeof kMemo - 1), 0, nullptr);
    }
    eng.AppendRecord();
    if (i + 1 == count / 10) {
      run.peak_tenth = logvane::platform::PeakResidentBytes();
      run.private_tenth = logvane::platform::PrivateResidentBytes();
    }
  }
  run.seconds = Seconds(t0);
  run.allocations = Allocations() - allocations;
  run.peak_end = logvane::platform::PeakResidentBytes();
  run.private_end = logvane::platform::PrivateResidentBytes();
  run.records = eng.RecordCount();
  const auto t1 = std::chrono::steady_clock::now();
  eng.CloseTable();
  run.close_seconds = Seconds(t1);
  return run;
}

void SqlText(std::ofstream& out, const char* text) {
  out << '\'';
  for (const char* p = text; *p; ++p) out << (*p == '\'' ? "''" : std::string(1, *p));
  out << '\'';
}

// The sqlite3 shell inserting the same rows in one transaction; the time of
// the shell's run (the SQL text is written beforehand). Negative when the
// shell is missing.
double RunSqlite(const std::filesystem::path& folder, int count) {
  if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) return -1;
  const std::filesystem::path sql = folder / "contacts.sql";
  const std::filesystem::path db = folder / "contacts.db";
  std::filesystem::remove(db);
  {
    std::ofstream out(sql);
    out << "CREATE TABLE contacts(NumSent INTEGER PRIMARY KEY, Call TEXT, QSODate REAL,"
           " TimeStart TEXT, Freq REAL, Mode TEXT, Name TEXT, City TEXT, State TEXT,"
           " Country TEXT, Continent TEXT, RstSent TEXT, RstRcvd TEXT, NumRcvd INTEGER,"
           " IBM INTEGER, Retired INTEGER, Comments TEXT);\n"
           "CREATE INDEX Call ON contacts(Call COLLATE NOCASE);\n"
           "CREATE INDEX DateTime ON contacts(QSODate, TimeStart);\n"
           "BEGIN;\n";
    out.precision(17);
    TContact c{};
    for (int i = 0; i < count; ++i) {
      MakeContact(i, c);
      out << "INSERT INTO contacts VALUES(" << c.num_sent << ',';
      SqlText(out, c.call);
      out << ',' << c.qso_date << ',';
      SqlText(out, c.time_start);
      out << ',' << c.freq;
      for (const char* t :
           {c.mode, c.name, c.city, c.state, c.country, c.continent, c.rst_sent, c.rst_rcvd}) {
        out << ',';
        SqlText(out, t);
      }
      out << ',' << c.num_rcvd << ',' << (c.ibm ? 1 : 0) << ',' << (c.retired ? 1 : 0) << ',';
      if (c.comments != nullptr)
        SqlText(out, c.comments);
      else
        out << "NULL";
      out << ");\n";
    }
    out << "COMMIT;\n";
  }
  const std::string command = "sqlite3 '" + db.string() + "' < '" + sql.string() + "'";
  const auto t0 = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return Seconds(t0);
}

// A text as a JSON string: the bench's texts hold no character that needs
// an escape but the quote and the backslash.
void JsonText(std::ofstream& out, const char* name, const char* text) {
  out << ",\"" << name << "\":\"";
  for (const char* p = text; *p; ++p) {
    if (*p == '"' || *p == '\\') out << '\\';
    out << *p;
  }
  out << '"';
}

// The contacts as `logvane-cli dump --format jsonl` writes them.
void WriteJsonLines(const std::filesystem::path& path, int count) {
  using namespace std::chrono;
  std::ofstream out(path);
  out.precision(17);
  TContact c{};
  for (int i = 0; i < count; ++i) {
    MakeContact(i, c);
    const year_month_day day{sys_days{1899y / December / 30} + days{static_cast<int>(c.qso_date)}};
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02u-%02uT00:00:00", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    out << "{\"NumSent\":" << c.num_sent;
    JsonText(out, "Call", c.call);
    out << ",\"QSODate\":\"" << date << '"';
    JsonText(out, "TimeStart", c.time_start);
    out << ",\"Freq\":" << c.freq;
    JsonText(out, "Mode", c.mode);
    JsonText(out, "Name", c.name);
    JsonText(out, "City", c.city);
    JsonText(out, "State", c.state);
    JsonText(out, "Country", c.country);
    JsonText(out, "Continent", c.continent);
    JsonText(out, "RstSent", c.rst_sent);
    JsonText(out, "RstRcvd", c.rst_rcvd);
    out << ",\"NumRcvd\":" << c.num_rcvd << ",\"IBM\":" << (c.ibm ? "true" : "false")
        << ",\"Retired\":" << (c.retired ? "true" : "false");
    if (c.comments != nullptr)
      JsonText(out, "Comments", c.comments);
    else
      out << ",\"Comments\":null";
    out << "}\n";
  }
}

// The load of `logvane-cli load` over the JSON lines: its rate, peak
// resident memory and heap allocations per record.
void RunLoad(const std::filesystem::path& folder, int count) {
  const std::filesystem::path lines = folder / "contacts.jsonl";
  WriteJsonLines(lines, count);
  const std::string mti = MakeEmptyLog(folder / "load");
  std::ifstream in(lines, std::ios::binary);
  std::ostringstream out, err;
  logvane::platform::ResetPeakResident();
  const int64_t allocations = Allocations();
  const auto t0 = std::chrono::steady_clock::now();
  const int status = logvane::cli::LoadRecords(mti, in, out, err);
  const double seconds = Seconds(t0);
  const int64_t allocated = Allocations() - allocations;
  if (status != 0) {
    std::fprintf(stderr, "load failed: %s", err.str().c_str());
    std::exit(1);
  }
  std::printf("load:    %d JSON lines in %.2f s = %.0f records/s\n", count, seconds,
              count / seconds);
  std::printf(
      "         peak resident %.1f MiB (private %.1f MiB at the end), %.2f heap "
      "allocations per record\n",
      MiB(logvane::platform::PeakResidentBytes()), MiB(logvane::platform::PrivateResidentBytes()),
      static_cast<double>(allocated) / count);
  const logvane::TTableCheckReport check = logvane::CheckTable(mti);
  std::printf("         the table check finds %" PRId64 " problems\n", check.problem_count);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const bool engine_only = argc > 2 && std::strcmp(argv[2], "--engine-only") == 0;
  if (count < 10) {
    std::fprintf(stderr, "usage: append_bench [COUNT >= 10] [--engine-only]\n");
    return 2;
  }
  const char* base = std::getenv("LOGVANE_BENCH_DATA");
  const std::filesystem::path folder = std::filesystem::path(base ? base : "bench-data") / "append";
  const std::string mti = MakeEmptyLog(folder);

  const TEngineRun run = RunEngine(mti, count);
  if (run.records != count) {
    std::fprintf(stderr, "the table holds %d records, not %d\n", run.records, count);
    return 1;
  }
  const double rate = count / run.seconds;
  std::printf("engine:  %d appends in %.2f s = %.0f appends/s (close %.2f s)\n", count, run.seconds,
              rate, run.close_seconds);
  std::printf("         peak resident %.1f MiB after %d appends, %.1f MiB after %d\n",
              MiB(run.peak_tenth), count / 10, MiB(run.peak_end), count);
  std::printf(
      "         of it private %.1f MiB and %.1f MiB (the rest: pages of the index\n"
      "         files it maps, the system's file cache)\n",
      MiB(run.private_tenth), MiB(run.private_end));
  std::printf("         %.4f heap allocations per append (%lld in all)\n",
              static_cast<double>(run.allocations) / count,
              static_cast<long long>(run.allocations));
  std::printf("         data file %.1f MiB\n",
              MiB(static_cast<int64_t>(std::filesystem::file_size(folder / "LogTabl.MTD"))));
  if (engine_only) return 0;
  const auto t_check = std::chrono::steady_clock::now();
  const logvane::TTableCheckReport check = logvane::CheckTable(mti);
  std::printf("         the table check finds %lld problems (%.1f s)\n",
              static_cast<long long>(check.problem_count), Seconds(t_check));
  for (size_t k = 0; k < check.problems.size() && k < 10; ++k)
    std::printf("           %s\n", check.problems[k].c_str());

  const double sqlite_seconds = RunSqlite(folder, count);
  if (sqlite_seconds < 0) {
    std::printf("sqlite3: the shell is missing or failed; no comparison\n");
  } else {
    const double sqlite_rate = count / sqlite_seconds;
    std::printf("sqlite3: %d inserts in one transaction in %.2f s = %.0f inserts/s\n", count,
                sqlite_seconds, sqlite_rate);
    std::printf("ratio:   the engine appends %.2f times as fast as the sqlite3 shell inserts\n",
                rate / sqlite_rate);
  }
  RunLoad(folder, count);
  return 0;
}

// The ADIF export over a generated million-contact log, in both orders:
// contacts per second, peak private memory of the export (the process's own
// allocations, sampled while it runs), its peak resident memory (which also
// counts the pages of the table's files the kernel maps), and heap
// allocations, compared with the same export over 10,000 contacts; and the
// export of the contacts that pass a filter of three comparisons, one of
// them a prefix match, in records examined per second.
//
//   export_bench [--benchmark_filter=...]     (data in $LOGVANE_BENCH_DATA,
//                                              default ./bench-data)
//
// The logs are made once (large pages, the case-insensitive Call index,
// realistic field sizes, one free slot in 97, a memo on one contact in ten)
// and kept for later runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "app/adif_export.h"
#include "bench/bench_support.h"
#include "component/daro_vivuv.h"
#include "platform/process_memory.h"
#include "tools/contact_log.h"

namespace {

using logvane::tools::Contact;

using namespace logvane::bench;

void MakeContact(int i, Contact& c) {
  uint64_t r = (static_cast<uint64_t>(i) + 1) * 0x9E3779B97F4A7C15ULL;
  r ^= r >> 29;
  char call[16];
  std::snprintf(call, sizeof call, "%s%d%c%c%c", Pick(kPrefixes, r), static_cast<int>(r >> 8) % 10,
                'A' + static_cast<int>(r >> 12) % 26, 'A' + static_cast<int>(r >> 17) % 26,
                'A' + static_cast<int>(r >> 22) % 26);
  c.call = call;
  if (r % 50 == 0) c.call[c.call.size() - 1] = '\xD8';
  c.qso_date = 37758.0 + i / 2000;
  char time[8];
  std::snprintf(time, sizeof time, "%02d%02d", static_cast<int>(r >> 27) % 24,
                static_cast<int>(r >> 32) % 60);
  c.time_start = time;
  c.freq = kBands[(r >> 36) % 6] + static_cast<double>((r >> 40) % 300) / 1000.0;
  c.mode = (r >> 44) % 3 ? "CW" : "SSB";
  c.name = Pick(kNames, r >> 46);
  c.city = Pick(kCities, r >> 48);
  size_t country = (r >> 50) % 12;
  c.country = kCountries[country];
  c.continent = kContinents[country];
  c.state = country == 0 ? "CO" : "";
  c.rst_sent = "599";
  c.rst_rcvd = (r >> 54) % 4 ? "599" : "579";
  c.num_rcvd = static_cast<int32_t>(r >> 56) + 1;
  c.ibm = (r >> 58) % 7 == 0;
  c.retired = (r >> 60) % 11 == 0;
  if (i % 10 == 0) c.comments = "Worked on a quiet band, good copy";
}

// The folder of a generated log of `contacts` contacts, made on first use.
std::string LogFolder(int contacts) {
  const char* base = std::getenv("LOGVANE_BENCH_DATA");
  std::filesystem::path folder =
      std::filesystem::path(base ? base : "bench-data") / ("Log" + std::to_string(contacts));
  if (!std::filesystem::exists(folder / "complete")) {
    std::fprintf(stderr, "making %s ...\n", folder.c_str());
    std::filesystem::create_directories(folder);
    logvane::tools::ContactLogOptions options;
    options.free_slot_every = 97;
    logvane::tools::WriteContactLog(folder.string(), contacts, MakeContact, options);
    std::ofstream(folder / "complete") << "ok\n";
  }
  return folder.string();
}

struct Result {
  double contacts_per_second = 0;
  double private_mib = 0;
  double peak_mib = 0;
  int64_t allocations = 0;
};

// Samples the private resident memory every millisecond until stopped and
// keeps the largest value.
class PrivateMemorySampler {
 public:
  PrivateMemorySampler() : peak_(logvane::platform::PrivateResidentBytes()) {
    thread_ = std::thread([this] {
      StopCountingThisThread();
      while (!stop_.load()) {
        peak_ = std::max(peak_.load(), logvane::platform::PrivateResidentBytes());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  // Stops sampling; the peak, with a last sample.
  int64_t Stop() {
    stop_ = true;
    thread_.join();
    return std::max(peak_.load(), logvane::platform::PrivateResidentBytes());
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> peak_;
  std::thread thread_;
};
std::map<std::pair<int, int>, Result> g_results;

void BM_Export(benchmark::State& state) {
  const bool by_call = state.range(0) == 1;
  const int contacts = static_cast<int>(state.range(1));
  const std::string folder = LogFolder(contacts);
  const std::string output = folder + "/bench.ADI";
  int64_t allocations = 0;
  int64_t peak = 0;
  int64_t private_peak = 0;
  for (auto _ : state) {
    logvane::platform::ResetPeakResident();
    PrivateMemorySampler sampler;
    const int64_t before = Allocations();
    logvane::TDaroVivuv log;
    log.SetName("LogTabl");
    log.SetTableName(folder + "/LogTabl.mti");
    log.SetIndexName(by_call ? "Call" : "NumSentIndx");
    log.SetReadOnly(true);
    log.Open();
    int64_t lines = logvane::WriteAdifFile(log, output, "Log", by_call ? 1 : 0,
                                           "Zentro Logvane v1.04, ADIF Spec v1.00", "");
    benchmark::DoNotOptimize(lines);
    allocations = Allocations() - before;
    peak = logvane::platform::PeakResidentBytes();
    private_peak = sampler.Stop();
  }
  state.SetItemsProcessed(state.iterations() * contacts);
  state.counters["private_MiB"] = static_cast<double>(private_peak) / (1 << 20);
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["allocs"] = static_cast<double>(allocations);
  Result& r = g_results[{by_call ? 1 : 0, contacts}];
  r.private_mib = static_cast<double>(private_peak) / (1 << 20);
  r.peak_mib = static_cast<double>(peak) / (1 << 20);
  r.allocations = allocations;
}

// Every contact of the log is examined by the filter once; those that pass
// are exported.
constexpr char kBenchFilter[] = "Mode = 'CW' and Country <> 'JAPAN' and Call = 'K*'";

struct FilteredResult {
  double examined_per_second = 0;
  int64_t written = 0;
  int64_t allocations = 0;
};
std::map<int, FilteredResult> g_filtered;

void BM_FilteredExport(benchmark::State& state) {
  const int contacts = static_cast<int>(state.range(0));
  const std::string folder = LogFolder(contacts);
  const std::string output = folder + "/bench-filtered.ADI";
  int64_t allocations = 0;
  int64_t lines = 0;
  for (auto _ : state) {
    const int64_t before = Allocations();
    logvane::TDaroVivuv log;
    log.SetName("LogTabl");
    log.SetTableName(folder + "/LogTabl.mti");
    log.SetIndexName("NumSentIndx");
    log.SetReadOnly(true);
    log.SetFilter(kBenchFilter);
    log.SetFiltered(true);
    log.Open();
    lines =
        logvane::WriteAdifFile(log, output, "Log", 0, "Zentro Logvane v1.04, ADIF Spec v1.00", "");
    allocations = Allocations() - before;
  }
  state.SetItemsProcessed(state.iterations() * contacts);
  state.counters["written"] = static_cast<double>((lines - 2) / 4);
  state.counters["allocs"] = static_cast<double>(allocations);
  FilteredResult& r = g_filtered[contacts];
  r.written = (lines - 2) / 4;
  r.allocations = allocations;
}

BENCHMARK(BM_FilteredExport)
    ->ArgNames({"contacts"})
    ->Args({10'000})
    ->Args({1'000'000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(BM_Export)
    ->ArgNames({"call_order", "contacts"})
    ->Args({0, 10'000})
    ->Args({1, 10'000})
    ->Args({0, 1'000'000})
    ->Args({1, 1'000'000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Prints the comparison the targets are stated in.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      auto it = run.counters.find("items_per_second");
      if (it == run.counters.end()) continue;
      std::string name = run.benchmark_name();
      if (name.find("BM_FilteredExport") != std::string::npos) {
        const int contacts =
            name.find("contacts:1000000") != std::string::npos ? 1'000'000 : 10'000;
        g_filtered[contacts].examined_per_second = it->second;
        continue;
      }
      int order = name.find("call_order:1") != std::string::npos ? 1 : 0;
      int contacts = name.find("contacts:1000000") != std::string::npos ? 1'000'000 : 10'000;
      g_results[{order, contacts}].contacts_per_second = it->second;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-10s %10s %16s %12s %14s %14s\n", "order", "contacts", "contacts/s",
              "private MiB", "resident MiB", "allocations");
  for (const auto& [key, r] : g_results)
    std::printf("%-10s %10d %16.0f %12.1f %14.1f %14lld\n", key.first ? "call" : "sequence",
                key.second, r.contacts_per_second, r.private_mib, r.peak_mib,
                static_cast<long long>(r.allocations));
  for (int order : {0, 1}) {
    const Result& small = g_results[{order, 10'000}];
    const Result& large = g_results[{order, 1'000'000}];
    std::printf(
        "%s order: %.1f MiB more private memory (%.1f MiB more resident) for 100x the "
        "contacts, %.4f allocations per contact\n",
        order ? "call" : "sequence", large.private_mib - small.private_mib,
        large.peak_mib - small.peak_mib,
        static_cast<double>(large.allocations - small.allocations) / 990'000.0);
  }
  for (const auto& [contacts, r] : g_filtered)
    std::printf(
        "filtered export, %d contacts: %.0f records examined/s, %lld written, %lld "
        "allocations\n",
        contacts, r.examined_per_second, static_cast<long long>(r.written),
        static_cast<long long>(r.allocations));
  if (g_filtered.count(10'000) && g_filtered.count(1'000'000))
    std::printf(
        "filtered export: %.4f allocations per record examined\n",
        static_cast<double>(g_filtered[1'000'000].allocations - g_filtered[10'000].allocations) /
            990'000.0);
  benchmark::Shutdown();
  return 0;
}

// make-fuzz-seeds FOLDER: writes the fuzz targets' seed inputs into
// FOLDER/<target>/, made with the project's own table, index and blob
// writers, so that the fuzzers start from tables that open and export:
//
//   table        whole tables (table_bundle.h): the sample log, contact
//                logs of both page formats with free slots, an empty log,
//                and tables with every field type, descending and
//                case-insensitive indexes, free index pages and a blob file
//                with free blocks and interleaved values
//   definition   the definitions of those tables, each followed by two of
//                its records
//   filter       filter texts with their option byte
//   adif_values  field texts as logs hold them
//
// The seeds are kept in the repository (fuzz/corpus); run this again when
// a file format changes.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/table_bundle.h"
#include "platform/file.h"
#include "table/table_definition.h"
#include "tools/blob_writer.h"
#include "tools/contact_log.h"
#include "tools/index_builder.h"
#include "tools/sample_log.h"
#include "tools/table_writer.h"

namespace logvane::fuzz {
namespace {

namespace fs = std::filesystem;
using tools::MakeField;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

void WriteSeed(const fs::path& folder, const std::string& name, const std::string& bytes) {
  fs::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + (folder / name).string());
}

// The seeds of one table: its bundle, and its definition followed by its
// first two slots.
void AddTable(const fs::path& out, const std::string& name, const std::string& mti, int index_count,
              uint8_t options) {
  WriteSeed(out / "table", name, MakeBundle(mti, index_count, options));
  const std::string data = ReadAll(platform::ChangeFileExt(mti, ".MTD"));
  platform::File file;
  if (file.Open(mti, platform::kAccessRead | platform::kShareDenyNone) != 0)
    throw std::runtime_error("cannot open " + mti);
  TmtbTableDef def;
  ReadTableDefinition(file, def);
  const size_t two = 2 * static_cast<size_t>(def.RecordLength());
  WriteSeed(out / "definition", name, ReadAll(mti) + data.substr(0, two));
}

// A contact log of `count` made-up contacts.
std::string ContactLog(const fs::path& folder, int count, double version, int free_every) {
  fs::create_directories(folder);
  tools::ContactLogOptions options;
  options.format_version = version;
  options.free_slot_every = free_every;
  static const char* const kModes[] = {"CW", "USB", "FT8", "RTTY", "AM", "PSK31"};
  return tools::WriteContactLog(
      folder.string(), count,
      [](int i, tools::Contact& c) {
        c.call = i % 3 == 0 ? "K\xD8RF" : "W" + std::to_string(i) + "ABC";
        c.qso_date = 37758.0 + i % 4 + (i % 2 ? 0.25 : 0.0);
        c.time_start = i % 5 == 0 ? "14:32" : std::to_string(1000 + 37 * i);
        c.freq = i % 4 == 0 ? 0.1357 : 3.5 + 3.5 * (i % 8);
        c.mode = kModes[i % 6];
        c.name = i % 2 ? "JOS\xC9" : "";
        c.city = i % 3 ? "S\xC3O PAULO" : "";
        c.state = "MA";
        c.country = "USA";
        c.continent = i % 7 ? "NA" : "XX";
        c.rst_sent = "599";
        c.rst_rcvd = i % 2 ? "579" : "5NN";
        c.num_rcvd = i * 7 - 3;
        c.ibm = i % 2 == 0;
        c.retired = i % 3 == 0;
        if (i % 2) c.comments = i % 4 == 1 ? "Loud\r\nsignal" : std::string(700, 'm');
      },
      options);
}

// A table with a field of every type code, its blob values spread over a
// blob file with free blocks, and indexes over most kinds of key. With
// `large` the large-page format with descending and case-insensitive
// indexes; else the small-page format, whose indexes have no options.
std::string EveryTypeTable(const fs::path& folder, bool large) {
  fs::create_directories(folder);
  const std::string mti = (folder / "LogTabl.mti").string();
  tools::TableDescription desc;
  desc.format_version = large ? 4.0 : 2.5;
  desc.fields = {MakeField("Id", 'I'),    MakeField("Seq", 'A'),      MakeField("Flag", 'B'),
                 MakeField("Price", 'C'), MakeField("When", 'D'),     MakeField("Ratio", 'F'),
                 MakeField("Old", 'R'),   MakeField("Call", 'S', 10), MakeField("Memo", 'M'),
                 MakeField("Rich", 'E'),  MakeField("Picture", 'G'),  MakeField("Bytes", 'L')};
  desc.fields[7].required = true;
  desc.fields[7].default_text = "N0CALL";
  desc.fields[3].minimum_text = "0";
  desc.fields[3].maximum_text = "1000";
  if (large) {
    desc.indexes = {{"Primary", {0}, kIndexPrimary | kIndexDescending},
                    {"CallWhen", {7, 4}, kIndexCaseInsensitive}};
  } else {
    desc.indexes = {{"Primary", {0}, kIndexPrimary}, {"Call", {7}, 0}, {"Ratio", {5, 6}, 0}};
  }
  desc.LayOut();

  const int kRecords = large ? 9 : 14;
  tools::BlobFileContents blobs;
  blobs.block_size = 64;
  blobs.free_blocks = 3;
  blobs.free_blocks_first = true;
  blobs.interleave = true;
  std::vector<int> slot_of_value;
  for (int r = 0; r < kRecords; ++r) {
    if (r % 4 == 3) continue;  // a free slot
    for (int f = 8; f < 12; ++f) {
      if ((r + f) % 3 == 0) continue;
      blobs.values.push_back(
          {std::string(static_cast<size_t>(20 + 31 * ((r + f) % 5)), static_cast<char>('a' + f)), r,
           f});
    }
  }
  const tools::BlobFileLayout layout =
      tools::WriteBlobFile(platform::ChangeFileExt(mti, ".blb"), blobs);

  std::vector<std::vector<uint8_t>> slots;
  tools::TRecordBuilder b(desc);
  size_t value = 0;
  for (int r = 0; r < kRecords; ++r) {
    if (r % 4 == 3) {
      const int next = r + 4 < kRecords ? r + 4 : -1;
      slots.push_back(tools::FreeRecordImage(desc.RecordLength(), next));
      continue;
    }
    b.Clear().SetInt(0, 100 - 7 * r).SetInt(1, r + 1).SetBool(2, r % 2 == 0);
    b.SetFloat(3, 19.99 * r).SetFloat(4, 37758.0 + r + r / 24.0).SetFloat(5, r * -0.5);
    b.SetFloat(6, 1e3 / (r + 1)).SetString(7, r % 3 ? "dl1zz" : "DL1ZZ");
    if (r % 5 == 4) b.SetNull(3).SetNull(4).SetNull(7);
    for (; value < blobs.values.size() && blobs.values[value].owner == r; ++value)
      b.SetInt(blobs.values[value].field, layout.First(value));
    slots.push_back(b.Image());
  }
  tools::WriteDefinition(mti, desc);
  tools::WriteDataFile(platform::ChangeFileExt(mti, ".MTD"), slots);

  tools::IndexBuildOptions options;
  options.fill = large ? tools::TFillPolicy::kRandom : tools::TFillPolicy::kOnePerPage;
  options.free_pages = 2;
  options.scatter_pages = true;
  tools::BuildIndexes(mti, options);
  return mti;
}

void TableSeeds(const fs::path& out, const fs::path& work) {
  fs::create_directories(work / "sample");
  AddTable(out, "sample-log", tools::WriteSampleLog((work / "sample").string()), 2, 0);
  AddTable(out, "contact-log-large-free-filtered", ContactLog(work / "large", 8, 3.0, 3), 2,
           kBundleFiltered | kBundleReadBesideWriter);
  AddTable(out, "contact-log-small-free", ContactLog(work / "small", 20, 2.0, 4), 2,
           kBundleFiltered);
  AddTable(out, "contact-log-empty", ContactLog(work / "empty", 0, 1.5, 0), 2, 0);
  AddTable(out, "every-type-large", EveryTypeTable(work / "types-large", true), 2, 0);
  AddTable(out, "every-type-small", EveryTypeTable(work / "types-small", false), 3,
           kBundleReadBesideWriter);
}

void FilterSeeds(const fs::path& out) {
  // Option byte: bits 0-1 the filter options, bits 2-3 the regional
  // settings (filter_fuzzer.cpp).
  const std::vector<std::pair<uint8_t, std::string>> seeds = {
      {0, "Mode = 'CW' and Call = 'K*'"},
      {1, "not (NumRcvd >= '100') or IBM = True"},
      {2, "[First Name] <> 'O''NEIL' and Comments = 'Loud*'"},
      {0, "QSODate >= '5/17/2003' and QSODate < '5/18/03 14:32:05'"},
      {4, "QSODate = '05/17/2003 12:00:00' or Freq <= '14.0'"},
      {8, "QSODate > '17.05.2003' and Fee = '12,5' and Freq < '1,5E1'"},
      {12, "QSODate <= '2003-05-17 2:05:00 PM' or QSODate = '2:05 am'"},
      {0, "((Call = NULL) or (Mode <> NULL)) and (IBM = FALSE or IBM = 'T')"},
      {3, "call = 'k*' or MODE = 'cw'"},
      {0, "NumRcvd = -1-2 or Freq = '-'"},
      {0, "Photo = 'x' or Total = '1'"},
  };
  int n = 0;
  for (const auto& [options, text] : seeds)
    WriteSeed(out / "filter", "filter-" + std::to_string(n++),
              std::string(1, static_cast<char>(options)) + text);
}

void AdifValueSeeds(const fs::path& out) {
  const std::vector<std::string> seeds = {
      "05/17/2003",
      "2003-05-17",
      "2003/05/17",
      "5/17/03",
      "20030517",
      "14.025",
      "1.5E3",
      "-1E-5",
      " +7.0 ",
      "1402",
      "14:32:05",
      "3:31",
      "235960",
      "USB",
      "psk31",
      "FT4",
      "NA",
      "K\xD8RF S\xC3O",
      "Stra\xDF"
      "e \xC6\xDE",
      "line one\r\nline two  \r\n\r\n",
      "0.1357",
      "144.3",
  };
  int n = 0;
  for (const std::string& text : seeds)
    WriteSeed(out / "adif_values", "value-" + std::to_string(n++), text);
}

}  // namespace
}  // namespace logvane::fuzz

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc != 2) {
    std::cerr << "usage: make-fuzz-seeds FOLDER\n";
    return 2;
  }
  const fs::path out = argv[1];
  const fs::path work = out / ".work";
  try {
    fs::remove_all(work);
    logvane::fuzz::TableSeeds(out, work);
    logvane::fuzz::FilterSeeds(out);
    logvane::fuzz::AdifValueSeeds(out);
    fs::remove_all(work);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}

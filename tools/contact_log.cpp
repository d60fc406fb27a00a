// Writing a contact log table.
#include "tools/contact_log.h"

#include <fstream>
#include <stdexcept>

#include "tools/blob_writer.h"
#include "tools/index_builder.h"

namespace logvane::tools {

TableDescription ContactLogDescription(double format_version) {
  TableDescription desc;
  desc.format_version = format_version;
  desc.fields = {
      MakeField("NumSent", 'I'),      MakeField("Call", 'S', 14),     MakeField("QSODate", 'D'),
      MakeField("TimeStart", 'S', 5), MakeField("Freq", 'F'),         MakeField("Mode", 'S', 6),
      MakeField("Name", 'S', 21),     MakeField("City", 'S', 26),     MakeField("State", 'S', 4),
      MakeField("Country", 'S', 26),  MakeField("Continent", 'S', 3), MakeField("RstSent", 'S', 4),
      MakeField("RstRcvd", 'S', 4),   MakeField("NumRcvd", 'I'),      MakeField("IBM", 'B'),
      MakeField("Retired", 'B'),      MakeField("Comments", 'M'),
  };
  desc.indexes = {
      {"NumSentIndx", {kNumSent}, kIndexPrimary},
      {"Call", {kCall}, kIndexCaseInsensitive},
  };
  desc.LayOut();
  return desc;
}

std::string WriteContactLog(const std::string& folder, int count,
                            const std::function<void(int, Contact&)>& make,
                            const ContactLogOptions& options) {
  TableDescription desc = ContactLogDescription(options.format_version);
  const std::string mti = folder + "/LogTabl.mti";
  WriteDefinition(mti, desc);

  // First pass: the memos, whose block offsets the records refer to.
  Contact c;
  BlobFileContents blobs;
  std::vector<int32_t> slot_of(count);
  int32_t slot = 0;
  auto next_slot = [&]() {
    if (options.free_slot_every > 0 && (slot + 1) % options.free_slot_every == 0) ++slot;
    return slot++;
  };
  for (int i = 0; i < count; ++i) {
    slot_of[i] = next_slot();
    c = Contact();
    make(i, c);
    if (!c.comments.empty()) blobs.values.push_back({c.comments, slot_of[i], kComments});
  }
  const BlobFileLayout layout = WriteBlobFile(platform::ChangeFileExt(mti, ".blb"), blobs);

  // Second pass: the records, free slots chained in ascending order.
  std::ofstream mtd(platform::ChangeFileExt(mti, ".MTD"), std::ios::binary | std::ios::trunc);
  TRecordBuilder r(desc);
  const int length = desc.RecordLength();
  size_t memo = 0;
  int32_t written = 0;
  // Free slots lie every `free_slot_every` slots; each links to the next.
  const int32_t slot_count = slot;
  auto write_free_until = [&](int32_t end) {
    for (; written < end; ++written) {
      int32_t next = written + options.free_slot_every;
      auto image = FreeRecordImage(length, next < slot_count ? next : -1);
      mtd.write(reinterpret_cast<const char*>(image.data()), length);
    }
  };
  // An empty text is stored as no value, as the logging program stores it.
  auto text = [&r](int field, const std::string& value) -> TRecordBuilder& {
    return value.empty() ? r.SetNull(field) : r.SetString(field, value);
  };
  for (int i = 0; i < count; ++i) {
    write_free_until(slot_of[i]);
    c = Contact();
    make(i, c);
    r.Clear().SetInt(kNumSent, i + 1).SetFloat(kQsoDate, c.qso_date).SetFloat(kFreq, c.freq);
    for (const auto& [field, value] : {std::pair<int, const std::string&>{kCall, c.call},
                                       {kTimeStart, c.time_start},
                                       {kMode, c.mode},
                                       {kName, c.name},
                                       {kCity, c.city},
                                       {kState, c.state},
                                       {kCountry, c.country},
                                       {kContinent, c.continent},
                                       {kRstSent, c.rst_sent},
                                       {kRstRcvd, c.rst_rcvd}})
      text(field, value);
    r.SetInt(kNumRcvd, c.num_rcvd).SetBool(kIbm, c.ibm).SetBool(kRetired, c.retired);
    if (!c.comments.empty()) r.SetInt(kComments, layout.First(memo++));
    mtd.write(reinterpret_cast<const char*>(r.Image().data()), length);
    ++written;
  }
  if (!mtd.flush()) throw std::runtime_error("cannot write the data file of " + mti);
  mtd.close();
  BuildIndexes(mti);
  return mti;
}

}  // namespace logvane::tools

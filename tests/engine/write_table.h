// A contact table for the write path tests, built on disk with the project's
// writers: Id (primary), Call, Band, Freq, Serial (autoincrement) and Notes
// (a memo), with the indexes Primary (Id), Call (case-insensitive from
// format 4.0), Band (descending from 4.0) and BandCall (Band, Call). Rows
// are written and read back field by field; a slot without a row is free.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "blob/blob_holders.h"
#include "engine/db_engine.h"
#include "index/index_test_support.h"
#include "tools/blob_writer.h"

namespace logvane::test {

enum TWriteField { kId, kCall, kBand, kFreq, kSerial, kNotes };

struct TRow {
  int32_t id = 0;
  std::string call;
  int32_t band = 0;
  double freq = 0;
  int32_t serial = 0;  // assigned by the engine on append
  std::string notes;   // empty: no memo

  bool operator==(const TRow&) const = default;
};

inline tools::TableDescription WriteTableDescription(double version) {
  tools::TableDescription desc;
  desc.format_version = version;
  desc.fields = {tools::MakeField("Id", 'I'),     tools::MakeField("Call", 'S', 12),
                 tools::MakeField("Band", 'I'),   tools::MakeField("Freq", 'F'),
                 tools::MakeField("Serial", 'A'), tools::MakeField("Notes", 'M')};
  const bool options = version >= 4.0;
  desc.indexes = {{"Primary", {kId}, kIndexPrimary},
                  {"Call", {kCall}, options ? double{kIndexCaseInsensitive} : 0.0},
                  {"Band", {kBand}, options ? double{kIndexDescending} : 0.0},
                  {"BandCall", {kBand, kCall}, 0.0}};
  desc.LayOut();
  return desc;
}

inline std::vector<uint8_t> RowImage(const tools::TableDescription& desc, const TRow& row,
                                     int32_t memo_reference = 0) {
  tools::TRecordBuilder r(desc);
  r.Clear().SetInt(kId, row.id).SetString(kCall, row.call).SetInt(kBand, row.band);
  r.SetFloat(kFreq, row.freq).SetInt(kSerial, row.serial);
  if (memo_reference > 0) r.SetInt(kNotes, memo_reference);
  return r.Image();
}

// Writes the table into `t` from `slots` (a free slot where there is no
// row, chained in ascending order) and builds its indexes.
inline void MakeWriteTable(TTestTable& t, double version,
                           const std::vector<std::optional<TRow>>& slots,
                           tools::IndexBuildOptions options = {}) {
  t.desc = WriteTableDescription(version);
  tools::BlobFileContents blobs;
  for (size_t n = 0; n < slots.size(); ++n)
    if (slots[n] && !slots[n]->notes.empty())
      blobs.values.push_back({slots[n]->notes, static_cast<int32_t>(n), kNotes});
  const tools::BlobFileLayout layout =
      tools::WriteBlobFile(platform::ChangeFileExt(t.mti, ".blb"), blobs);
  t.slots.clear();
  std::vector<size_t> free;
  size_t memo = 0;
  for (size_t n = 0; n < slots.size(); ++n) {
    if (!slots[n]) {
      free.push_back(n);
      t.slots.push_back({});
      continue;
    }
    const int32_t ref = slots[n]->notes.empty() ? 0 : layout.First(memo++);
    t.slots.push_back(RowImage(t.desc, *slots[n], ref));
  }
  for (size_t k = 0; k < free.size(); ++k)
    t.slots[free[k]] = tools::FreeRecordImage(
        t.desc.RecordLength(), k + 1 < free.size() ? static_cast<int32_t>(free[k + 1]) : -1);
  t.Build(options);
}

// Row k of the usual test data: id 10 * k, a call from k, band k % 5.
inline TRow NumberedRow(int k, bool memo = false) {
  TRow row;
  row.id = 10 * k;
  row.call = "K" + std::to_string(k * 7 % 100) + (k % 2 ? "ab" : "AB");
  row.band = k % 5;
  row.freq = 7.0 + k * 0.001;
  row.serial = k + 1;
  if (memo)
    row.notes = std::string(static_cast<size_t>(100 + 37 * k), static_cast<char>('a' + k % 26));
  return row;
}

// The memo of `record` whose image is `image`, read through the holders.
inline std::string MemoOf(TmtbDBEng& eng, const uint8_t* image, int32_t record) {
  TBlob* h =
      eng.BlobAccess(TBlobRequest::kLoad, kNotes, image, record, nullptr, nullptr, 0, 0, nullptr);
  if (h == nullptr) return {};
  return std::string(h->Data().begin(), h->Data().end());
}

// The row stored in `record`, memo included.
inline TRow ReadRow(TmtbDBEng& eng, int32_t record) {
  std::vector<uint8_t> image(static_cast<size_t>(eng.RecordLength()));
  eng.CopyRecord(record, image.data());
  const TmtbTableDef& def = eng.Definition();
  TRow row;
  row.id = GetInt32(&image[def.Field(kId).offset]);
  row.call = reinterpret_cast<const char*>(&image[def.Field(kCall).offset]);
  row.band = GetInt32(&image[def.Field(kBand).offset]);
  std::memcpy(&row.freq, &image[def.Field(kFreq).offset], sizeof row.freq);
  row.serial = GetInt32(&image[def.Field(kSerial).offset]);
  row.notes = MemoOf(eng, image.data(), record);
  eng.BlobHolders().Reset();
  return row;
}

// Puts `row` into work buffer 0 as the image to append or post (the serial
// as given, no memo reference); with `notes` the Notes holder of `record`
// (-1 for a new record) is loaded and given them, an empty text clearing
// the memo.
inline void PrepareRow(TmtbDBEng& eng, const tools::TableDescription& desc, const TRow& row,
                       int32_t record, const std::optional<std::string>& notes) {
  uint8_t* buffer = eng.WorkBuffer(0);
  if (record == -1) {  // a new record starts from a cleared image
    eng.ClearImage(buffer, 0);
    eng.BlobHolders().Reset();
  }
  if (notes) {
    TBlob* h = eng.BlobAccess(TBlobRequest::kLoad, kNotes, buffer, record, nullptr, nullptr, 0, 0,
                              nullptr);
    eng.BlobAccess(TBlobRequest::kTruncate, kNotes, buffer, record, nullptr, h, 0, 0, nullptr);
    std::string text = *notes;
    eng.BlobAccess(TBlobRequest::kWrite, kNotes, buffer, record, text.data(), h,
                   static_cast<int64_t>(text.size()), 0, nullptr);
  }
  const std::vector<uint8_t> image = RowImage(desc, row);
  // Keep the blob slot the buffer holds: the engine decides what it means.
  const int notes_at = desc.FieldDesc(kNotes).offset;
  std::vector<uint8_t> merged = image;
  merged[kNotes] = buffer[kNotes];
  std::memcpy(&merged[static_cast<size_t>(notes_at)], buffer + notes_at, 4);
  std::memcpy(buffer, merged.data(), merged.size());
}

// The counters page as the file holds it.
inline TTableCounters DiskCounters(TmtbDBEng& eng) { return eng.Indexes().ReadCounters(); }

}  // namespace logvane::test

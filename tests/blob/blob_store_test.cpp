// The holders carry a record's values into the blob file: changed holders
// become new, rewritten or freed values with the record's slots and null
// flags set to match; a deleted record's values are freed; a slot naming
// another record's value is refused before anything is written; and the
// component's requests move bytes only within the holder's stream.
#include <gtest/gtest.h>

#include <random>

#include "base/byte_order.h"
#include "base/errors.h"
#include "blob/blob_check.h"
#include "blob/blob_holders.h"
#include "table/record_manager.h"
#include "test_support.h"
#include "tools/blob_writer.h"
#include "tools/table_writer.h"

namespace logvane {
namespace {

using tools::MakeField;

constexpr int kNr = 0, kNotes = 1, kCall = 2, kPic = 3;

class BlobStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desc_.fields = {MakeField("Nr", 'I'), MakeField("Notes", 'M'), MakeField("Call", 'S', 10),
                    MakeField("Pic", 'G')};
    desc_.indexes = {{"Primary", {kNr}, 0}};
    tools::WriteDefinition(mti_, desc_);
    platform::File f;
    ASSERT_EQ(f.Open(mti_, platform::kAccessRead | platform::kShareDenyNone), 0);
    ReadTableDefinition(f, def_);
    holders_.Build(def_);
    tools::WriteBlobFile(blb_, {});
    file_.OpenBlobFile(blb_, false, nullptr);
    desc_.LayOut();
  }

  std::vector<uint8_t> Image(int32_t nr) {
    return tools::TRecordBuilder(desc_).SetInt(kNr, nr).Image();
  }

  // Changes `field` of record `record` through its holder.
  TBlob* Change(int field, std::vector<uint8_t>& image, int32_t record, const std::string& text) {
    TBlob* h = holders_.Load(&file_, def_, field, image.data(), record);
    h->Truncate();
    h->WriteAt(0, text.data(), text.size());
    return h;
  }

  std::string Value(const std::vector<uint8_t>& image, int field) {
    std::vector<uint8_t> v;
    file_.ReadValue(Slot(image, field), v);
    return std::string(v.begin(), v.end());
  }
  int32_t Slot(const std::vector<uint8_t>& image, int field) const {
    return GetInt32(image.data() + def_.Field(field).offset);
  }

  std::vector<std::string> Check(
      const std::vector<std::pair<int32_t, std::vector<uint8_t>*>>& recs) {
    std::vector<uint8_t> none(static_cast<size_t>(def_.RecordLength()), 0);
    none[0] = kFreeRecordMarker;
    int32_t slots = 0;
    for (const auto& r : recs) slots = std::max(slots, r.first + 1);
    return CheckBlobFile(blb_, def_, slots, [&](int32_t n) -> const uint8_t* {
      for (const auto& r : recs)
        if (r.first == n) return r.second->data();
      return none.data();
    });
  }

  test::TempDir dir_;
  std::string mti_ = dir_.File("Log.mti");
  std::string blb_ = dir_.File("Log.blb");
  tools::TableDescription desc_;
  TmtbTableDef def_;
  TBlobHolders holders_;
  TBlobFile file_;
};

TEST_F(BlobStoreTest, ChangedHoldersBecomeValuesAndDeletedRecordsFreeThem) {
  std::vector<uint8_t> rec = Image(1), other = Image(2);
  Change(kNotes, rec, 3, std::string(1300, 'n'));
  Change(kPic, rec, 3, "GIF");
  EXPECT_EQ(holders_.StoreChangedHolders(&file_, def_, 3, rec.data()), 2);
  EXPECT_EQ(rec[kNotes] + rec[kPic], 2);
  EXPECT_EQ(file_.ReadValueHeader(Slot(rec, kNotes)).owner, 3);
  EXPECT_EQ(holders_.Find(kNotes)->State(), kBlobLoaded);
  EXPECT_EQ(holders_.StoreChangedHolders(&file_, def_, 3, rec.data()), 0) << "nothing changed";
  holders_.Reset();
  Change(kNotes, other, 4, "other");
  holders_.StoreChangedHolders(&file_, def_, 4, other.data());
  EXPECT_EQ(Check({{3, &rec}, {4, &other}}), std::vector<std::string>{});

  // A rewrite keeps the slot, so the record need not be written again.
  holders_.Reset();
  const int32_t first = Slot(rec, kNotes);
  Change(kNotes, rec, 3, "short now");
  EXPECT_EQ(holders_.StoreChangedHolders(&file_, def_, 3, rec.data()), 0);
  EXPECT_EQ(Slot(rec, kNotes), first);
  EXPECT_EQ(Value(rec, kNotes), "short now");

  // Clearing frees the value and empties the slot and the flag.
  holders_.Reset();
  holders_.Load(&file_, def_, kPic, rec.data(), 3)->Truncate();
  EXPECT_EQ(holders_.StoreChangedHolders(&file_, def_, 3, rec.data()), 1);
  EXPECT_EQ(rec[kPic], 0);
  EXPECT_EQ(Slot(rec, kPic), 0);
  EXPECT_EQ(Check({{3, &rec}, {4, &other}}), std::vector<std::string>{});

  const size_t free_before = file_.FreeList().size();
  holders_.FreeRecordValues(&file_, def_, 3, rec.data());
  EXPECT_EQ(file_.FreeList().size(), free_before + 1);
  EXPECT_EQ(Check({{4, &other}}), std::vector<std::string>{});
}

// Record 2's image names record 1's values (as a copied record would). The
// store and the delete must not rewrite or free what is not record 2's.
TEST_F(BlobStoreTest, SlotNamingAnotherRecordsValueIsRefusedBeforeAnyWrite) {
  std::vector<uint8_t> one = Image(1);
  Change(kNotes, one, 1, std::string(600, 'o'));
  holders_.StoreChangedHolders(&file_, def_, 1, one.data());
  holders_.Reset();

  std::vector<uint8_t> two = one;
  PutInt32(two.data() + def_.Field(kNr).offset, 2);
  const std::vector<uint8_t> before = test::ReadBytes(blb_);
  // The holders were loaded while the image had no values; the store then
  // meets the copied slots.
  std::vector<uint8_t> blank = Image(2);
  Change(kPic, blank, 2, "new picture");  // would be written first
  Change(kNotes, blank, 2, "overwrite");
  EXPECT_THROW(holders_.StoreChangedHolders(&file_, def_, 2, two.data()), EBlobError);
  EXPECT_THROW(holders_.FreeRecordValues(&file_, def_, 2, two.data()), EBlobError);
  EXPECT_EQ(test::ReadBytes(blb_), before);
  EXPECT_EQ(Value(one, kNotes), std::string(600, 'o'));
}

TEST_F(BlobStoreTest, RequestsStayWithinTheHoldersStream) {
  std::vector<uint8_t> rec = Image(1);
  auto request = [&](TBlobRequest r, TBlob* h, void* data, int64_t count, int64_t position) {
    int64_t result = -1;
    const TBlob* answer =
        holders_.Request(r, &file_, def_, kNotes, rec.data(), 4, data, h, count, position, &result);
    return answer == nullptr ? -2 : result;
  };
  TBlob* h = holders_.Request(TBlobRequest::kLoad, &file_, def_, kNotes, rec.data(), 4, nullptr,
                              nullptr, 0, 0, nullptr);
  char data[8] = "abcdefg", out[16] = {};
  EXPECT_EQ(request(TBlobRequest::kWrite, h, data, 7, 2), 7);
  EXPECT_EQ(request(TBlobRequest::kSize, h, nullptr, 0, 0), 9);
  EXPECT_EQ(request(TBlobRequest::kRead, h, out, -5, 0), 0) << "a negative count moves nothing";
  EXPECT_EQ(request(TBlobRequest::kWrite, h, data, -1, 0), 0);
  EXPECT_EQ(request(TBlobRequest::kRead, h, out, 16, 4), 5);
  EXPECT_EQ(std::string(out, 5), "cdefg");
  TBlob stranger(kNotes);
  EXPECT_EQ(request(TBlobRequest::kSize, &stranger, nullptr, 0, 0), -2);
}

// Two record images standing in for the data file while the close
// compaction moves values.
class ImageRecords : public TBlobRecordUpdater {
 public:
  ImageRecords(const TmtbTableDef& def, std::vector<std::vector<uint8_t>*> images)
      : def_(def), images_(std::move(images)) {}
  void SetBlobReference(int32_t record, int field, int32_t reference) override {
    uint8_t* image = images_.at(static_cast<size_t>(record))->data();
    image[field] = reference < 0 ? 0 : 1;
    PutInt32(image + def_.Field(field).offset, std::max(reference, 0));
  }
  int32_t BlobReference(int32_t record, int field) override {
    if (record < 0 || static_cast<size_t>(record) >= images_.size()) return -1;
    if (field != kNotes && field != kPic) return -1;
    const uint8_t* image = images_[static_cast<size_t>(record)]->data();
    return image[field] == 1 ? GetInt32(image + def_.Field(field).offset) : -1;
  }

 private:
  const TmtbTableDef& def_;
  std::vector<std::vector<uint8_t>*> images_;
};

// Header fields overwritten with hostile values: every write, the close
// compaction and the check must refuse or report, never read or write past
// anything.
TEST_F(BlobStoreTest, HostileHeadersNeverCrashTheWriterOrTheCheck) {
  std::mt19937 rng(11);
  const int32_t hostile[] = {INT32_MIN, -2, -1, 0, 1, 23, 24, 511, 512, 513, 1024, 4096, INT32_MAX};
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    file_.CloseBlobFile();
    tools::BlobFileContents spec;
    spec.block_size = 512;
    spec.values = {
        {std::string(1200, 'a'), 0, kNotes}, {"b", 0, kPic}, {std::string(500, 'c'), 1, kNotes}};
    spec.free_blocks = 5;
    spec.interleave = true;
    const tools::BlobFileLayout layout = tools::WriteBlobFile(blb_, spec);
    std::vector<uint8_t> r0, r1;
    tools::TRecordBuilder b(desc_);
    r0 = b.Clear()
             .SetInt(kNr, 0)
             .SetInt(kNotes, layout.First(0))
             .SetInt(kPic, layout.First(1))
             .Image();
    r1 = b.Clear().SetInt(kNr, 1).SetInt(kNotes, layout.First(2)).Image();
    for (int k = 0; k < 3; ++k) {
      const int32_t block =
          std::uniform_int_distribution<int32_t>(0, layout.block_count - 1)(rng) * 512;
      const int32_t at = block + 4 * std::uniform_int_distribution<int32_t>(0, 5)(rng);
      tools::PatchInt32(blb_, at, hostile[std::uniform_int_distribution<size_t>(0, 12)(rng)]);
    }
    Check({{0, &r0}, {1, &r1}});
    ImageRecords records(def_, {&r0, &r1});
    try {
      file_.OpenBlobFile(blb_, false, &records);
    } catch (const Exception&) {
      continue;
    }
    holders_.Reset();
    auto attempt = [](auto&& f) {
      try {
        f();
      } catch (const EBlobError&) {
      }
    };
    attempt([&] { Change(kNotes, r0, 0, std::string(2000, 'x')); });
    attempt([&] { holders_.StoreChangedHolders(&file_, def_, 0, r0.data()); });
    attempt([&] { holders_.FreeRecordValues(&file_, def_, 1, r1.data()); });
    attempt([&] { holders_.FreeRecordValues(&file_, def_, 0, r0.data()); });
    file_.CloseBlobFile();  // compacts when the frees went through
    Check({{0, &r0}, {1, &r1}});
  }
}

}  // namespace
}  // namespace logvane

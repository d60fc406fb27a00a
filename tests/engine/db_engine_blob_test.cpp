// The engine and the blob file together: a writable table whose values were
// freed compacts its blob file at close, and the records whose values moved
// are rewritten to point at them; free records and other fields refer to
// nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/byte_order.h"
#include "base/errors.h"
#include "blob/blob_check.h"
#include "engine/db_engine.h"
#include "table_maker.h"
#include "tools/blob_writer.h"

namespace logvane {
namespace {

constexpr int kId = 0, kNotes = 1;

class EngineBlobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t_.desc.format_version = 4.0;
    t_.desc.fields = {tools::MakeField("Id", 'I'), tools::MakeField("Notes", 'M')};
    t_.desc.indexes = {{"Primary", {kId}, kIndexPrimary}};
    t_.desc.LayOut();
    tools::BlobFileContents blobs;
    for (int k = 0; k < 6; ++k) blobs.values.push_back({Memo(k), k, kNotes});
    blobs.free_blocks = 5;
    const tools::BlobFileLayout layout = tools::WriteBlobFile(Blb(), blobs);
    tools::TRecordBuilder r(t_.desc);
    for (int k = 0; k < 6; ++k)
      t_.slots.push_back(r.Clear().SetInt(kId, k).SetInt(kNotes, layout.First(k)).Image());
    t_.slots.push_back(tools::FreeRecordImage(t_.desc.RecordLength(), -1));
    t_.Build();
  }

  static std::string Memo(int k) {
    static const size_t kSizes[] = {100, 600, 3900, 700, 50, 1000};  // blocks 1, 2, 8, 2, 1, 3
    return std::string(kSizes[k], static_cast<char>('a' + k));
  }
  std::string Blb() const { return platform::ChangeFileExt(t_.mti, ".blb"); }

  std::string LoadMemo(int32_t record) {
    std::vector<uint8_t> image(static_cast<size_t>(eng_.RecordLength()));
    eng_.ReadRecord(image.data(), record);
    TBlob* h =
        eng_.BlobHolders().Load(eng_.BlobFile(), eng_.Definition(), kNotes, image.data(), record);
    return std::string(h->Data().begin(), h->Data().end());
  }

  test::TTestTable t_;
  TmtbDBEng eng_;
};

TEST_F(EngineBlobTest, CloseCompactionRepointsTheRecordsOfMovedValues) {
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenWriteShared, 0), 0);
  EXPECT_EQ(eng_.BlobReference(6, kNotes), -1) << "a free record";
  EXPECT_EQ(eng_.BlobReference(99, kNotes), -1) << "outside the data file";
  EXPECT_EQ(eng_.BlobReference(3, kId), -1) << "no blob field";
  EXPECT_THROW(eng_.SetBlobReference(3, kId, 512), EBlobError);
  EXPECT_THROW(eng_.SetBlobReference(6, kNotes, 512), EDedaZiRecMgrError);

  // Clear record 2's memo as the write path does: store, then write the
  // record again.
  std::vector<uint8_t> image(static_cast<size_t>(eng_.RecordLength()));
  eng_.ReadRecord(image.data(), 2);
  eng_.BlobHolders().Load(eng_.BlobFile(), eng_.Definition(), kNotes, image.data(), 2)->Truncate();
  ASSERT_EQ(
      eng_.BlobHolders().StoreChangedHolders(eng_.BlobFile(), eng_.Definition(), 2, image.data()),
      1);
  eng_.WriteRecord(image.data(), 2);
  ASSERT_EQ(eng_.BlobFile()->FreeList().size(), 13u);
  const int32_t moved_before = eng_.BlobReference(5, kNotes);
  eng_.CloseTable();

  // 9 used blocks remain: the file keeps block 0, those and 5 free blocks.
  EXPECT_EQ(std::filesystem::file_size(Blb()), 15u * 512);
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  EXPECT_LT(eng_.BlobReference(5, kNotes), moved_before)
      << "record 5's value moved into record 2's blocks";
  for (int k : {0, 1, 3, 4, 5}) EXPECT_EQ(LoadMemo(k), Memo(k)) << "record " << k;
  EXPECT_EQ(LoadMemo(2), "");
  std::vector<uint8_t> scratch(static_cast<size_t>(eng_.RecordLength()));
  EXPECT_EQ(CheckBlobFile(Blb(), eng_.Definition(), eng_.SlotCount(),
                          [&](int32_t n) -> const uint8_t* {
                            try {
                              eng_.ReadRecord(scratch.data(), n);
                            } catch (const Exception&) {
                              return nullptr;
                            }
                            return scratch.data();
                          }),
            std::vector<std::string>{});
}

}  // namespace
}  // namespace logvane

// The blob-value holders of a table with memo and graphic fields: loading a
// field's value for a record reads the blob file once, records without a
// value load empty, a value owned by another record is refused, and resets
// drop what was cached.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/messages.h"
#include "blob/blob_holders.h"
#include "test_support.h"
#include "tools/blob_writer.h"
#include "tools/table_writer.h"

namespace logvane {
namespace {

using tools::MakeField;

constexpr int kNr = 0, kNotes = 1, kCall = 2, kPic = 3;

class BlobHolderTest : public ::testing::Test {
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

    tools::BlobFileContents blobs;
    blobs.interleave = true;
    blobs.values = {{notes0_, 0, kNotes}, {pic0_, 0, kPic}, {notes1_, 1, kNotes}};
    layout_ = tools::WriteBlobFile(blb_, blobs);
    file_.OpenBlobFile(blb_, true, nullptr);

    tools::TRecordBuilder b(desc_);
    image0_ = b.Clear()
                  .SetInt(kNr, 0)
                  .SetInt(kNotes, layout_.First(0))
                  .SetInt(kPic, layout_.First(1))
                  .Image();
    image1_ = b.Clear().SetInt(kNr, 1).SetInt(kNotes, layout_.First(2)).Image();
  }

  TBlob* Load(int field, const std::vector<uint8_t>& image, int32_t record) {
    return holders_.Load(&file_, def_, field, image.data(), record);
  }
  static std::string Text(const TBlob* h) {
    return std::string(h->Data().begin(), h->Data().end());
  }

  // Changes the first payload byte of `value` on disk, behind the holders'
  // backs: a load that reads the file sees it, a cached one does not.
  void ChangeOnDisk(size_t value, char c) {
    test::PatchBytes(blb_, static_cast<size_t>(layout_.First(value)) + kBlobHeaderSize,
                     {static_cast<uint8_t>(c)});
  }

  test::TempDir dir_;
  std::string mti_ = dir_.File("Log.mti");
  std::string blb_ = dir_.File("Log.blb");
  tools::TableDescription desc_;
  TmtbTableDef def_;
  TBlobHolders holders_;
  tools::BlobFileLayout layout_;
  TBlobFile file_;
  std::string notes0_ = std::string(700, 'n') + "end of notes";  // two blocks
  std::string pic0_ = "GIF89a-picture";
  std::string notes1_ = "second record";
  std::vector<uint8_t> image0_, image1_;
};

TEST_F(BlobHolderTest, FileIsReadOncePerFieldAndRecord) {
  TBlob* notes = Load(kNotes, image0_, 0);
  ASSERT_NE(notes, nullptr);
  EXPECT_EQ(Text(notes), notes0_);
  EXPECT_EQ(notes->State(), kBlobLoaded);
  EXPECT_EQ(notes->RecordNumber(), 0);

  ChangeOnDisk(0, 'X');
  ChangeOnDisk(1, 'Y');
  EXPECT_EQ(Load(kNotes, image0_, 0), notes);
  EXPECT_EQ(Text(notes), notes0_) << "the same field and record must not read the file again";
  // Another field of the same record has its own holder and reads the file.
  EXPECT_EQ(Text(Load(kPic, image0_, 0)), "Y" + pic0_.substr(1));

  // Another record reloads; coming back reads the file again.
  EXPECT_EQ(Text(Load(kNotes, image1_, 1)), notes1_);
  EXPECT_EQ(Text(Load(kNotes, image0_, 0)), "X" + notes0_.substr(1));

  ChangeOnDisk(0, 'Z');
  holders_.Reset();
  for (size_t i = 0; i < holders_.Count(); ++i) EXPECT_EQ(holders_.At(i).State(), kBlobNotLoaded);
  EXPECT_EQ(Text(Load(kNotes, image0_, 0)), "Z" + notes0_.substr(1));
}

TEST_F(BlobHolderTest, FieldWithoutValueLoadsEmptyAndNonBlobFieldsNothing) {
  TBlob* pic = Load(kPic, image1_, 1);  // record 1 has no picture
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(pic->Size(), 0);
  EXPECT_EQ(pic->State(), kBlobLoaded);
  EXPECT_EQ(pic->RecordNumber(), 1);
  // A slot left over from an earlier value is ignored while the flag is 0.
  std::vector<uint8_t> image = image0_;
  image[kPic] = 0;
  EXPECT_EQ(Load(kPic, image, 0)->Size(), 0);

  for (int field : {kNr, kCall, 99}) EXPECT_EQ(Load(field, image0_, 0), nullptr);
  EXPECT_EQ(holders_.Load(nullptr, def_, kNotes, image0_.data(), 0), nullptr);
  file_.CloseBlobFile();
  EXPECT_EQ(Load(kNotes, image0_, 0), nullptr);
  EXPECT_EQ(holders_.At(0).State(), kBlobNotLoaded);
}

TEST_F(BlobHolderTest, ValueOwnedByAnotherRecordIsRefused) {
  Load(kNotes, image1_, 1);
  // A record whose slot points at record 0's value.
  std::vector<uint8_t> image = image1_;
  PutInt32(image.data() + def_.FieldOffset(kNotes), layout_.First(0));
  try {
    Load(kNotes, image, 2);
    FAIL() << "no error";
  } catch (const EBlobError& e) {
    EXPECT_STREQ(e.what(), msg::kBlobError);
  }
  const TBlob& notes = holders_.At(0);
  EXPECT_EQ(notes.State(), kBlobNotLoaded);
  EXPECT_EQ(notes.Size(), 0);
  EXPECT_EQ(Text(Load(kNotes, image1_, 1)), notes1_);

  // A damaged reference is refused the same way.
  PutInt32(image.data() + def_.FieldOffset(kNotes), 3);
  EXPECT_THROW(Load(kNotes, image, 2), EBlobError);
}

TEST_F(BlobHolderTest, UnsavedChangeStaysUntilReset) {
  TBlob* notes = Load(kNotes, image1_, 1);
  char buf[64] = {};
  EXPECT_EQ(notes->ReadAt(7, buf, sizeof buf), notes1_.size() - 7);
  EXPECT_EQ(std::string(buf, notes1_.size() - 7), notes1_.substr(7));
  EXPECT_EQ(notes->ReadAt(notes->Size(), buf, 1), 0u);
  EXPECT_EQ(notes->ReadAt(-1, buf, 1), 0u);
  EXPECT_EQ(notes->WriteAt(-1, buf, 1), 0u);
  EXPECT_EQ(notes->State(), kBlobLoaded);

  const std::string tail = "!!";
  EXPECT_EQ(notes->WriteAt(notes->Size() + 2, tail.data(), tail.size()), 2u);
  EXPECT_EQ(notes->State(), kBlobChanged);
  EXPECT_EQ(Text(notes), notes1_ + std::string(2, '\0') + "!!");
  EXPECT_EQ(Text(Load(kNotes, image1_, 1)), notes1_ + std::string(2, '\0') + "!!");

  holders_.Reset();
  EXPECT_EQ(Text(Load(kNotes, image1_, 1)), notes1_);
  notes->Truncate();
  EXPECT_EQ(notes->Size(), 0);
  EXPECT_EQ(notes->State(), kBlobChanged);
}

}  // namespace
}  // namespace logvane

// Opening and closing a table.
//
// The open reads the definition, opens the data file, the index files and
// the blob file, loads the table counters and the free chain, compacts the
// data file when a writable open finds more than 20 free records, and
// positions on index 0. Each failure gives its own code and leaves nothing
// open. The definition file's handle stays open for the table's lifetime:
// its share mode is the only lock between processes.
#include <algorithm>
#include <cerrno>
#include <exception>

#include "base/errors.h"
#include "base/messages.h"
#include "engine/db_engine.h"

namespace logvane {

std::string OpenFailureText(const std::string& path, int32_t code) {
  std::string text = path + msg::kCannotOpenExclusive;
  if (code != kOpenDefinitionFailed) text += std::string(" ") + msg::kTableMayBeCorruptedRebuild;
  return text;
}

TmtbDBEng::~TmtbDBEng() {
  try {
    CloseTable();
  } catch (...) {
  }
}

std::string TOpenFailure::Describe() const {
  if (code == 0) return {};
  return step + " " + path + ": " + reason;
}

namespace {
// The reason an exception gives, for a failure record.
std::string Reason(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
    return "unknown error";
  }
}
}  // namespace

int32_t TmtbDBEng::Fail(int32_t code, const char* step, const std::string& path,
                        const std::string& reason) {
  failure_ = {code, step, path, reason};
  return code;
}

int32_t TmtbDBEng::OpenTable(const std::string& path, uint32_t mode, int retries) {
  open_ = false;
  path_ = path;
  mode_ = mode;
  failure_ = {};
  int err = definition_.Open(path, mode);
  for (int attempt = 0; err != 0 && attempt < retries; ++attempt) {
    platform::SleepOpenRetry();
    err = definition_.Open(path, mode);
  }
  if (err != 0) {
    handle_ =
        Fail(kOpenDefinitionFailed, "open the definition file", path, platform::ErrorText(err));
    return handle_;
  }
  handle_ = definition_.Handle();

  int32_t result = OpenSteps(mode);
  if (result < 0) {
    try {
      CloseTable();
    } catch (...) {
      // A failed open reports its code; the close only releases files.
    }
    return result;
  }
  open_ = true;
  return result;
}

int32_t TmtbDBEng::OpenSteps(uint32_t mode) {
  read_only_ = (mode & 3) == 0;
  platform::SetDefaultReadOnly(read_only_);

  try {
    ReadTableDefinition(definition_, def_);
    holders_.Build(def_);
  } catch (...) {
    def_.Clear();  // a closed engine describes no table, not half of one
    holders_.Clear();
    definition_.Close();
    handle_ = -1;
    return Fail(kOpenDefinitionDamaged, "read the definition", path_,
                Reason(std::current_exception()));
  }

  // While our lock keeps every other writer out (exclusive or deny-write
  // sharing), the data and blob files are read through mappings, and runs
  // of record reads may be served in windows.
  const bool writers_kept_out = ((mode & 0xF0) >> 4) <= 2;
  const std::string mtd = platform::ChangeFileExt(path_, ".MTD");
  if (!platform::FileExists(mtd))
    return Fail(kOpenDataFileFailed, "open the data file", mtd, platform::ErrorText(ENOENT));
  try {
    OpenDataFile(mtd, def_.RecordLength());
    SetReadAhead(writers_kept_out);
  } catch (...) {
    return Fail(kOpenDataFileFailed, "open the data file", mtd, Reason(std::current_exception()));
  }

  if (indexes_.OpenAll(path_, def_.IndexCount(), def_.FormatLevel()) <= 0)
    return Fail(kOpenIndexFailed, "open the indexes of", path_, indexes_.LastError());

  const char* step = "open the blob file";
  std::string file = platform::ChangeFileExt(path_, ".blb");
  try {
    if (def_.HasBlobFile()) {
      blob_file_ = std::make_unique<TBlobFile>();
      // The engine is the file's way back into the records when the close
      // compaction moves a value.
      blob_file_->OpenBlobFile(file, read_only_, this);
      if (writers_kept_out) blob_file_->MapForReading();
    }
    step = "read the table counters from";
    file = indexes_.IndexAt(0).PageFilePath();
    counters_ = indexes_.ReadCounters();
    step = "load the free-record chain from";
    file = mtd;
    LoadFreeChain(counters_.free_records, counters_.first_free_record);
  } catch (...) {
    indexes_.CloseAll();
    return Fail(kOpenBlobOrCountersFailed, step, file, Reason(std::current_exception()));
  }

  // A compaction that is refused or fails leaves the indexes open, so that
  // the close that follows writes the counters and the chain from the list
  // as the compaction left it.
  if (int32_t code = CompactAtOpen(); code < 0) return code;

  try {
    SetCurrentIndex(0);
    filtered_ = false;
  } catch (...) {
    return Fail(kOpenPositioningFailed, "position on the first index of", path_,
                Reason(std::current_exception()));
  }
  return handle_;
}

int32_t TmtbDBEng::CompactAtOpen() {
  if (read_only_ || FreeList().size() <= 20) return 0;
  const std::string mtd = platform::ChangeFileExt(path_, ".MTD");
  try {
    if (CompactDataFile() < 0)
      return Fail(kOpenPositioningFailed, "compact the data file", mtd,
                  "refused: the free records, the live records and the indexes do not agree");
    // The counters on disk must name slots the file still has: the head the
    // open read may lie beyond the new end.
    counters_.free_records = static_cast<int32_t>(FreeList().size());
    counters_.first_free_record = FreeList().front();
    indexes_.WriteCounters(counters_);
  } catch (...) {
    return Fail(kOpenPositioningFailed, "compact the data file", mtd,
                Reason(std::current_exception()));
  }
  return 0;
}

void TmtbDBEng::CloseTable() {
  filtered_ = false;
  filter_list_.Clear();
  open_ = false;
  if (!definition_.IsOpen()) return;

  auto release = [this]() noexcept {
    if (blob_file_) {
      blob_file_->CloseBlobFile();
      blob_file_.reset();
    }
    holders_.Clear();
    def_.Clear();
    CloseDataFile();
    definition_.Close();
    handle_ = -1;
    // A closed engine has an empty cursor: no record, no count.
    current_ = first_ = last_ = -1;
    range_count_ = 0;
    first_ordinal_ = 1;
    current_ordinal_ = 0;
    bof_ = eof_ = true;
  };

  try {
    std::vector<int32_t>& free_list = FreeList();
    std::sort(free_list.begin(), free_list.end());
    const int32_t head = free_list.empty() ? -1 : free_list.front();
    const int32_t length = static_cast<int32_t>(free_list.size());
    if (indexes_.IndexCount() > 0) {
      try {
        if (!read_only_) {
          ++counters_.change_counter;
          counters_.free_records = length;
          counters_.first_free_record = head;
          indexes_.WriteCounters(counters_);
          WriteFreeChain();
        }
      } catch (...) {
        indexes_.CloseAll();
        throw;
      }
      indexes_.CloseAll();
    }
  } catch (...) {
    release();
    throw;
  }
  release();
}

}  // namespace logvane

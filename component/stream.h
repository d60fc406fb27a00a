// The stream interface through which blob values are read and written. A
// dataset hands out one stream per request (TDataSet::CreateBlobStream); the
// table component implements it over the engine's blob holders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace logvane {

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to `count` bytes at the position into `buffer`; the position
  // advances by the bytes read, which are returned (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes `count` bytes at the position; returns the bytes written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
};

// Appends everything `stream` yields from its position on, chunk by chunk:
// no size is trusted up front and nothing is zero-filled.
void AppendStream(TStream& stream, std::string& out);
// Writes `bytes` at the stream's position; false when it took fewer. A
// null stream takes nothing and is no failure.
bool WriteStream(TStream* stream, std::string_view bytes);

}  // namespace logvane

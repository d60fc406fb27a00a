// Writing blob files for tests and tools, and patching their headers.
#include "tools/blob_writer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "base/byte_order.h"
#include "blob/blob_block.h"

namespace logvane::tools {

BlobFileLayout WriteBlobFile(const std::string& path, const BlobFileContents& desc) {
  const int32_t block_size = desc.block_size;
  if (block_size <= kBlobHeaderSize) throw std::invalid_argument("blob block size too small");
  const size_t payload = static_cast<size_t>(block_size - kBlobHeaderSize);

  BlobFileLayout layout;
  layout.block_size = block_size;
  layout.chains.resize(desc.values.size());
  int32_t next_block = 1;
  auto take = [&] { return next_block++ * block_size; };
  auto add_free = [&] {
    for (int i = 0; i < desc.free_blocks; ++i) layout.free_blocks.push_back(take());
  };

  std::vector<size_t> counts;
  size_t most = 0;
  for (const BlobValue& v : desc.values) {
    if (v.bytes.empty()) throw std::invalid_argument("empty blob value");
    counts.push_back((v.bytes.size() + payload - 1) / payload);
    most = std::max(most, counts.back());
  }
  if (desc.free_blocks_first) add_free();
  if (desc.interleave) {
    for (size_t k = 0; k < most; ++k)
      for (size_t v = 0; v < counts.size(); ++v)
        if (k < counts[v]) layout.chains[v].push_back(take());
  } else {
    for (size_t v = 0; v < counts.size(); ++v)
      for (size_t k = 0; k < counts[v]; ++k) layout.chains[v].push_back(take());
  }
  if (!desc.free_blocks_first) add_free();
  layout.block_count = next_block;

  std::vector<uint8_t> image(static_cast<size_t>(next_block) * block_size, 0);
  PutInt32(image.data(), block_size);
  PutInt32(image.data() + kBlobFreeHeadOffset,
           layout.free_blocks.empty() ? -1 : layout.free_blocks.front());

  for (size_t v = 0; v < desc.values.size(); ++v) {
    const BlobValue& value = desc.values[v];
    const std::vector<int32_t>& chain = layout.chains[v];
    for (size_t k = 0; k < chain.size(); ++k) {
      const size_t start = k * payload;
      const size_t used = std::min(payload, value.bytes.size() - start);
      TBlobBlockHeader h;
      h.next = k + 1 < chain.size() ? chain[k + 1] : -1;
      h.prev = k > 0 ? chain[k - 1] : -1;
      h.used = static_cast<int32_t>(used);
      h.owner = k == 0 ? value.owner : -1;
      h.total = static_cast<int32_t>(value.bytes.size());
      h.field = value.field;
      uint8_t* block = image.data() + chain[k];
      h.Encode(block);
      std::memcpy(block + kBlobHeaderSize, value.bytes.data() + start, used);
    }
  }
  for (size_t i = 0; i < layout.free_blocks.size(); ++i) {
    const int32_t next = i + 1 < layout.free_blocks.size() ? layout.free_blocks[i + 1] : -1;
    TBlobBlockHeader::Free(next).Encode(image.data() + layout.free_blocks[i]);
  }

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  return layout;
}

void PatchInt32(const std::string& path, int64_t byte_offset, int32_t value) {
  uint8_t bytes[4];
  PutInt32(bytes, value);
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(byte_offset));
  f.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
  if (!f) throw std::runtime_error("cannot patch " + path);
}

void PatchBlobHeader(const std::string& path, int32_t block_offset, BlobHeaderField field,
                     int32_t value) {
  PatchInt32(path, int64_t{block_offset} + static_cast<int>(field), value);
}

void PatchFreeHead(const std::string& path, int32_t offset) {
  PatchInt32(path, kBlobFreeHeadOffset, offset);
}

}  // namespace logvane::tools

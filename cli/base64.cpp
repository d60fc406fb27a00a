#include "cli/base64.h"

#include <cstdint>

namespace logvane::cli {

namespace {

constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

void AppendBase64(std::string& out, std::string_view data) {
  auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(data[i])); };
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    uint32_t v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    for (int s = 18; s >= 0; s -= 6) out += kDigits[(v >> s) & 63];
  }
  if (size_t rest = data.size() - i) {
    uint32_t v = byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
}

bool DecodeBase64(std::string_view text, std::string* out) {
  out->clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      const int d = k >= 4 - pad ? 0 : ValueOf(text[i + static_cast<size_t>(k)]);
      if (d < 0) return false;
      v = v << 6 | static_cast<uint32_t>(d);
    }
    *out += static_cast<char>(v >> 16);
    if (pad < 2) *out += static_cast<char>(v >> 8 & 0xFF);
    if (pad < 1) *out += static_cast<char>(v & 0xFF);
  }
  return true;
}

}  // namespace logvane::cli

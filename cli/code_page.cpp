// Windows-1252 and UTF-8.
#include "cli/code_page.h"

#include <cstdint>
#include <cstdio>

namespace logvane::cli {

namespace {

// Code points of the bytes 0x80..0x9F in the Windows-1252 code page; the
// undefined ones map to the C1 control of the same value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Decodes one UTF-8 sequence at the start of `s`; its length, or 0 when it
// is not a valid (shortest-form, non-surrogate) sequence.
size_t DecodeUtf8(std::string_view s, char32_t* c) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  size_t n = b0 < 0x80                 ? 1
             : b0 >= 0xC2 && b0 < 0xE0 ? 2
             : b0 >= 0xE0 && b0 < 0xF0 ? 3
             : b0 >= 0xF0 && b0 < 0xF5 ? 4
                                       : 0;
  if (n == 0 || n > s.size()) return 0;
  char32_t v = n == 1 ? b0 : b0 & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[k]);
    if ((b & 0xC0) != 0x80) return 0;
    v = v << 6 | (b & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kLeast[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *c = v;
  return n;
}

// The Windows-1252 byte of a code point; -1 when there is none.
int ByteOf(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] == c) return 0x80 + i;
  return -1;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf8FromWindows1252(std::string& out, std::string_view bytes) {
  while (!bytes.empty()) {
    // A run of ASCII is the same in both: it goes out in one piece.
    size_t run = 0;
    while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80) ++run;
    out.append(bytes.substr(0, run));
    if (run == bytes.size()) return;
    const auto c = static_cast<unsigned char>(bytes[run]);
    AppendUtf8(out, c < 0xA0 ? kHighControls[c - 0x80] : c);
    bytes.remove_prefix(run + 1);
  }
}

bool Windows1252FromUtf8(std::string_view utf8, std::string* out, std::string* problem) {
  out->clear();
  while (!utf8.empty()) {
    char32_t c = 0;
    const size_t n = DecodeUtf8(utf8, &c);
    if (n == 0) {
      *problem = "is not UTF-8 text";
      return false;
    }
    const int byte = ByteOf(c);
    if (byte < 0) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      *problem = "holds '" + std::string(utf8.substr(0, n)) + "' (" + code +
                 "), which Windows-1252 does not have";
      return false;
    }
    *out += static_cast<char>(byte);
    utf8.remove_prefix(n);
  }
  return true;
}

std::string MessageForTerminal(std::string_view message) {
  for (std::string_view rest = message; !rest.empty();) {
    char32_t c = 0;
    const size_t n = DecodeUtf8(rest, &c);
    if (n == 0) {
      std::string converted;
      AppendUtf8FromWindows1252(converted, message);
      return converted;
    }
    rest.remove_prefix(n);
  }
  return std::string(message);
}

}  // namespace logvane::cli

// The tables' texts are 8-bit Windows-1252; the command line and its output
// are UTF-8. Conversions between the two.
#pragma once

#include <string>
#include <string_view>

namespace logvane::cli {

// Appends the code point `c` (at most 0x10FFFF) to `out` in UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// Appends `bytes` (Windows-1252) to `out` in UTF-8. The five bytes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1
// characters of the same value.
void AppendUtf8FromWindows1252(std::string& out, std::string_view bytes);

// The Windows-1252 form of UTF-8 text, the reverse of the above. Returns
// false when the text is not valid UTF-8 or holds a character the code page
// has no byte for; `*problem` then says which, to follow a subject: "is not
// UTF-8 text" or "holds 'ā' (U+0101), which Windows-1252 does not have".
bool Windows1252FromUtf8(std::string_view utf8, std::string* out, std::string* problem);

// A message for the terminal: unchanged when it is valid UTF-8, else read
// as Windows-1252 (a message quoting a table's text) and converted.
std::string MessageForTerminal(std::string_view message);

}  // namespace logvane::cli

// Base64 (RFC 4648, standard alphabet, "=" padding): how graphic and binary
// field values travel in JSON lines.
#pragma once

#include <string>
#include <string_view>

namespace logvane::cli {

void AppendBase64(std::string& out, std::string_view data);

// Decodes `text` into `out`. False when it is not base64: a character
// outside the alphabet, a length that is not a multiple of four, or padding
// anywhere but at the end.
bool DecodeBase64(std::string_view text, std::string* out);

}  // namespace logvane::cli

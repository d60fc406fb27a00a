// Reading one line of JSON lines input: a flat object whose members are
// texts, numbers, booleans or null, as `logvane-cli dump --format jsonl`
// writes them. Arrays and nested objects are refused: no table field holds
// one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace logvane::cli {

enum class TJsonKind { kNull, kBoolean, kNumber, kText };

struct TJsonMember {
  std::string name;  // UTF-8, escapes resolved
  TJsonKind kind = TJsonKind::kNull;
  bool boolean = false;
  // A text's UTF-8 with escapes resolved; a number's text as written
  // (its grammar checked).
  std::string text;
};

// Reads `line` as one JSON object into the first `*count` entries of
// `members`, which grows as needed and keeps its storage between lines.
// Returns false with `*problem` saying what is wrong and where ("expected
// ':' after the member name at column 12") when the line is not a JSON
// object of that form.
bool ReadJsonObject(std::string_view line, std::vector<TJsonMember>& members, size_t* count,
                    std::string* problem);

}  // namespace logvane::cli

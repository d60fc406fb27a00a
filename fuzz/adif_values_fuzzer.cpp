// Fuzz target: the export's value forms. The input is one field's text as
// a log may hold it; it is run through the date normalisation of the
// default form and through every ADIF 3 value form, and each result must be
// of its ADIF type (adif3_values.h) or, where the form refuses the text,
// nothing at all. A result of the wrong form aborts: a strict reader would
// refuse the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/adif3_enumerations.h"
#include "app/adif3_values.h"
#include "app/adif_export.h"

namespace logvane::fuzz {
namespace {

[[noreturn]] void Broken(const char* promise, std::string_view result) {
  std::fprintf(stderr, "broken promise: %s: \"%.*s\"\n", promise, static_cast<int>(result.size()),
               result.data());
  std::abort();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An optional "-", digits, at most one ".", at least one digit.
bool IsAdifNumber(std::string_view s) {
  size_t i = s.starts_with('-') ? 1 : 0;
  bool digits = false, point = false;
  for (; i < s.size(); ++i) {
    if (IsDigit(s[i])) {
      digits = true;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

// HHMM or HHMMSS, a time of day.
bool IsAdifTime(std::string_view s) {
  if (s.size() != 4 && s.size() != 6) return false;
  for (char c : s)
    if (!IsDigit(c)) return false;
  auto two = [&](size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
  return two(0) <= 23 && two(2) <= 59 && (s.size() == 4 || two(4) <= 59);
}

bool IsAdifCharacters(std::string_view s, bool lines) {
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 32 && b <= 126) continue;
    if (lines && (c == '\r' || c == '\n')) continue;
    return false;
  }
  return true;
}

void CheckDate(std::string_view text) {
  std::string date(text);
  NormaliseAdifDate(date);
  if (date.size() > text.size()) Broken("a normalised date is never longer", date);
}

void CheckNumber(std::string_view text) {
  std::string out = "x";
  if (AppendAdifNumber(out, text)) {
    if (!IsAdifNumber(std::string_view(out).substr(1))) Broken("an ADIF Number", out);
  } else if (out != "x") {
    Broken("a refused number appends nothing", out);
  }
}

void CheckTime(std::string_view text) {
  std::string out = "x";
  if (AppendAdifTime(out, text)) {
    if (!IsAdifTime(std::string_view(out).substr(1))) Broken("an ADIF Time", out);
  } else if (out != "x") {
    Broken("a refused time appends nothing", out);
  }
}

void CheckText(std::string_view text) {
  for (TextLines lines : {TextLines::kJoin, TextLines::kKeep}) {
    std::string out;
    AppendAdifText(out, text, lines);
    if (!IsAdifCharacters(out, lines == TextLines::kKeep)) Broken("ADIF characters", out);
  }
}

void CheckEnumerations(std::string_view text) {
  const AdifMode mode = MapAdifMode(text);
  if (mode.mode.empty() && !mode.submode.empty()) Broken("a submode belongs to a mode", text);
  IsAdifContinent(text);
  std::string number;
  if (AppendAdifNumber(number, text)) AdifBandOf(std::strtod(number.c_str(), nullptr));
}

}  // namespace
}  // namespace logvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace logvane::fuzz;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckDate(text);
  CheckNumber(text);
  CheckTime(text);
  if (logvane::IsAdifDate(text) && text.size() != 8) Broken("an ADIF Date has eight digits", text);
  CheckText(text);
  CheckEnumerations(text);
  return 0;
}

// A reader for one flat JSON object (RFC 8259 grammar).
#include "cli/json_line.h"

#include "cli/code_page.h"

namespace logvane::cli {

namespace {

class TReader {
 public:
  TReader(std::string_view text, std::string* problem) : s_(text), problem_(problem) {}

  bool Object(std::vector<TJsonMember>& members, size_t* count) {
    *count = 0;
    Blanks();
    if (!Take('{')) return Fail("expected '{' at the start of the line");
    Blanks();
    if (!Take('}')) {
      for (;;) {
        if (*count == members.size()) members.emplace_back();
        TJsonMember& m = members[*count];
        Blanks();
        if (!Peek('"')) return Fail("expected a member name in quotes");
        if (!Text(m.name)) return false;
        Blanks();
        if (!Take(':')) return Fail("expected ':' after the member name");
        Blanks();
        if (!Value(m)) return false;
        ++*count;
        Blanks();
        if (Take('}')) break;
        if (!Take(',')) return Fail("expected ',' or '}' after a value");
      }
    }
    Blanks();
    if (at_ != s_.size()) return Fail("unexpected text after the object");
    return true;
  }

 private:
  bool Peek(char c) const { return at_ < s_.size() && s_[at_] == c; }
  bool Take(char c) {
    if (!Peek(c)) return false;
    ++at_;
    return true;
  }
  bool Word(std::string_view w) {
    if (s_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }
  void Blanks() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\r' || s_[at_] == '\n'))
      ++at_;
  }
  bool Fail(const char* what) {
    *problem_ = std::string(what) + " at column " + std::to_string(at_ + 1);
    return false;
  }

  bool Value(TJsonMember& m) {
    m.text.clear();
    m.boolean = false;
    if (Peek('"')) {
      m.kind = TJsonKind::kText;
      return Text(m.text);
    }
    if (Word("null")) {
      m.kind = TJsonKind::kNull;
      return true;
    }
    if (Word("true")) {
      m.kind = TJsonKind::kBoolean;
      m.boolean = true;
      return true;
    }
    if (Word("false")) {
      m.kind = TJsonKind::kBoolean;
      return true;
    }
    if (Peek('[') || Peek('{')) return Fail("an array or object is no field value");
    m.kind = TJsonKind::kNumber;
    return Number(m.text);
  }

  bool Digits() {
    const size_t start = at_;
    while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
    return at_ > start;
  }

  bool Number(std::string& out) {
    const size_t start = at_;
    Take('-');
    if (Take('0')) {
      if (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9')
        return Fail("a number has a leading zero");
    } else if (!Digits()) {
      return Fail("expected a value");
    }
    if (Take('.') && !Digits()) return Fail("expected digits after the decimal point");
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (!Digits()) return Fail("expected digits in the exponent");
    }
    out.assign(s_.substr(start, at_ - start));
    return true;
  }

  bool Hex4(char32_t* v) {
    if (at_ + 4 > s_.size()) return Fail("expected four hex digits after \\u");
    *v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[at_++];
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return Fail("expected four hex digits after \\u");
      *v = *v << 4 | static_cast<char32_t>(d);
    }
    return true;
  }

  // A quoted text; the opening quote is next.
  bool Text(std::string& out) {
    out.clear();
    ++at_;
    for (;;) {
      if (at_ >= s_.size()) return Fail("a text is not closed");
      const char c = s_[at_];
      if (c == '"') {
        ++at_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character in a text");
      if (c != '\\') {
        out += c;
        ++at_;
        continue;
      }
      ++at_;
      if (at_ >= s_.size()) return Fail("a text is not closed");
      switch (s_[at_++]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          char32_t c1 = 0;
          if (!Hex4(&c1)) return false;
          if (c1 >= 0xDC00 && c1 <= 0xDFFF) return Fail("a lone surrogate in a text");
          if (c1 >= 0xD800 && c1 <= 0xDBFF) {
            char32_t c2 = 0;
            if (!Word("\\u") || !Hex4(&c2) || c2 < 0xDC00 || c2 > 0xDFFF)
              return Fail("a lone surrogate in a text");
            c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
          }
          AppendUtf8(out, c1);
          break;
        }
        default: --at_; return Fail("an unknown escape in a text");
      }
    }
  }

  std::string_view s_;
  std::string* problem_;
  size_t at_ = 0;
};

}  // namespace

bool ReadJsonObject(std::string_view line, std::vector<TJsonMember>& members, size_t* count,
                    std::string* problem) {
  return TReader(line, problem).Object(members, count);
}

}  // namespace logvane::cli

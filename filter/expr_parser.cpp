// Reading a filter text into its tree: tokens, the grammar's rules and the
// parser's messages.
#include "filter/expr_parser.h"

#include "base/errors.h"
#include "base/message_format.h"
#include "filter/filter_messages.h"

namespace logvane {

namespace {

// Characters a string constant keeps.
constexpr size_t kMaxConstantLength = 256;

bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool StartsSymbol(unsigned char c) { return IsLetter(c) || c == '_' || (c >= 0x81 && c <= 0xFE); }
bool ContinuesSymbol(unsigned char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }
bool ContinuesNumber(unsigned char c) {
  return IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

}  // namespace

void TExprParser::FreeTree() {
  root_ = nullptr;
  nodes_.clear();
}

void TExprParser::Parse() {
  FreeTree();
  text_ = cursor_.FilterText();
  position_ = 0;
  nesting_ = 0;
  try {
    NextToken();
    TExprNode* root = ParseExpression();
    if (token_ != TToken::kEnd) throw EDatabaseError(msg::kFilterIncorrectlyTerminated);
    root_ = root;
  } catch (...) {
    FreeTree();
    throw;
  }
}

// The text is read as a C string: the zero byte that std::string keeps
// after its characters (or an earlier one inside them) ends it.
void TExprParser::NextToken() {
  const auto* s = reinterpret_cast<const unsigned char*>(text_.c_str());
  while (s[position_] >= 1 && s[position_] <= 32) ++position_;
  token_start_ = position_;
  token_text_.clear();
  const unsigned char c = s[position_];
  if (c == 0) {
    token_ = TToken::kEnd;
    return;
  }
  if (StartsSymbol(c)) {
    ++position_;
    while (ContinuesSymbol(s[position_])) ++position_;
    token_text_.assign(text_, token_start_, position_ - token_start_);
    token_ = TToken::kSymbol;
    return;
  }
  if (IsDigit(c) || c == '-') {
    ++position_;
    while (ContinuesNumber(s[position_])) ++position_;
    token_text_.assign(text_, token_start_, position_ - token_start_);
    token_ = TToken::kConstant;
    return;
  }
  ++position_;
  switch (c) {
    case '[': {
      size_t end = position_;
      while (s[end] != 0 && s[end] != ']') ++end;
      if (s[end] == 0) throw EDatabaseError(msg::kUnterminatedFieldName);
      token_text_.assign(text_, position_, end - position_);
      position_ = end + 1;
      token_ = TToken::kFieldName;
      return;
    }
    case '\'':
      for (;;) {
        unsigned char ch = s[position_];
        if (ch == 0) throw EDatabaseError(msg::kUnterminatedString);
        ++position_;
        if (ch == '\'') {
          if (s[position_] != '\'') break;
          ++position_;  // '' stands for one quote
        }
        if (token_text_.size() < kMaxConstantLength) token_text_ += static_cast<char>(ch);
      }
      token_ = TToken::kConstant;
      return;
    case '(': token_ = TToken::kOpenParen; return;
    case ')': token_ = TToken::kCloseParen; return;
    case '=': token_ = TToken::kEqual; return;
    case '<':
      token_ = TToken::kLess;
      if (s[position_] == '=') {
        token_ = TToken::kLessEqual;
        ++position_;
      } else if (s[position_] == '>') {
        token_ = TToken::kNotEqual;
        ++position_;
      }
      return;
    case '>':
      token_ = TToken::kGreater;
      if (s[position_] == '=') {
        token_ = TToken::kGreaterEqual;
        ++position_;
      }
      return;
    default: {
      const char bad = static_cast<char>(c);
      throw EDatabaseError(
          FormatMessage(msg::kInvalidFilterCharacter, {std::string_view(&bad, 1)}));
    }
  }
}

std::string TExprParser::TokenSource() const {
  if (token_ == TToken::kEnd) return msg::kNothing;
  return "'" + text_.substr(token_start_, position_ - token_start_) + "'";
}

bool TExprParser::IsKeyword(std::string_view keyword) const {
  if (token_ != TToken::kSymbol || token_text_.size() != keyword.size()) return false;
  for (size_t i = 0; i < keyword.size(); ++i) {
    char c = token_text_[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != keyword[i]) return false;
  }
  return true;
}

TExprNode* TExprParser::MakeLeaf(TExprNodeKind kind) {
  TExprNode& node = nodes_.emplace_back();
  node.kind = kind;
  return &node;
}

TExprNode* TExprParser::MakeOperator(TExprOperator op, TExprNode* left, TExprNode* right) {
  TExprNode& node = nodes_.emplace_back();
  node.kind = nkOperator;
  node.op = op;
  node.left = left;
  node.right = right;
  return &node;
}

TExprNode* TExprParser::ParseExpression() {
  TExprNode* tree = ParseAndTerm();
  while (IsKeyword("OR")) {
    NextToken();
    TExprNode* right = ParseAndTerm();
    tree = MakeOperator(opOr, tree, right);
  }
  return tree;
}

TExprNode* TExprParser::ParseAndTerm() {
  TExprNode* tree = ParseNotTerm();
  while (IsKeyword("AND")) {
    NextToken();
    TExprNode* right = ParseNotTerm();
    tree = MakeOperator(opAnd, tree, right);
  }
  return tree;
}

TExprNode* TExprParser::ParseNotTerm() {
  if (!IsKeyword("NOT")) return ParseComparison();
  NextToken();
  TExprNode* operand = ParseComparison();
  return MakeOperator(opNot, operand, nullptr);
}

TExprNode* TExprParser::ParseComparison() {
  TExprNode* left = ParsePrimary();
  TExprOperator op = opNone;
  switch (token_) {
    case TToken::kLess: op = opLess; break;
    case TToken::kLessEqual: op = opLessEqual; break;
    case TToken::kEqual: op = opEqual; break;
    case TToken::kGreaterEqual: op = opGreaterEqual; break;
    case TToken::kGreater: op = opGreater; break;
    case TToken::kNotEqual: op = opNotEqual; break;
    default: return left;
  }
  NextToken();
  TExprNode* right = ParsePrimary();
  return MakeOperator(op, left, right);
}

TExprNode* TExprParser::ParsePrimary() {
  TExprNode* node = nullptr;
  switch (token_) {
    case TToken::kSymbol:
      if (IsKeyword("NULL")) {
        node = MakeLeaf(nkConstant);
        node->value.SetNull();
      } else if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
        node = MakeLeaf(nkConstant);
        node->value.SetBoolean(IsKeyword("TRUE"));
      } else {
        node = MakeLeaf(nkField);
        node->value.SetText(token_text_);
      }
      break;
    case TToken::kFieldName:
      node = MakeLeaf(nkField);
      node->value.SetText(token_text_);
      break;
    case TToken::kConstant:
      node = MakeLeaf(nkConstant);
      node->value.SetText(token_text_);
      break;
    case TToken::kOpenParen:
      if (++nesting_ > kMaxNesting) throw EDatabaseError(msg::kFilterNestedTooDeeply);
      NextToken();
      node = ParseExpression();
      if (token_ != TToken::kCloseParen)
        throw EDatabaseError(FormatMessage(msg::kCloseParenExpected, {TokenSource()}));
      --nesting_;
      break;
    default: throw EDatabaseError(FormatMessage(msg::kExpressionExpected, {TokenSource()}));
  }
  NextToken();
  return node;
}

}  // namespace logvane

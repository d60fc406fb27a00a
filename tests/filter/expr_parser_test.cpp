// The filter language's parser: every message with its %s, how terms group,
// the token rules (quotes, brackets, numbers kept as text, the 256-character
// cut, keywords), the nesting bound and what a failed parse leaves.
#include "filter/expr_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "fake_filter_cursor.h"
#include "test_support.h"

namespace logvane {
namespace {

using test::MessageOf;

// The tree in prefix form: OR(=(State,'CO'),...); field references bare,
// texts quoted, NULL, True and False as such.
std::string Show(const TExprNode* n) {
  if (n == nullptr) return "-";
  switch (n->kind) {
    case nkField: return std::string(n->value.AsText());
    case nkConstant:
      if (n->value.IsNull()) return "NULL";
      if (n->value.Type() == TVarType::kBoolean) return n->value.AsBoolean() ? "True" : "False";
      return "'" + std::string(n->value.AsText()) + "'";
    case nkOperator: break;
  }
  static const char* const kOps[] = {"", "AND", "OR", "NOT", "<", "<=", "=", ">=", ">", "<>"};
  std::string s = std::string(kOps[n->op]) + "(" + Show(n->left);
  if (n->right != nullptr) s += "," + Show(n->right);
  return s + ")";
}

class Parser : public ::testing::Test {
 protected:
  std::string Parse(const std::string& text) {
    cursor_.text = text;
    parser_.Parse();
    return Show(parser_.Root());
  }
  std::string Error(const std::string& text) {
    return MessageOf([&] { Parse(text); });
  }
  test::FakeFilterCursor cursor_;
  TExprParser parser_{cursor_};
};

TEST_F(Parser, EveryMessageWithItsToken) {
  EXPECT_EQ(Error(""), "Expression expected but nothing found");
  EXPECT_EQ(Error(" \t\r\n "), "Expression expected but nothing found");
  EXPECT_EQ(Error("A = "), "Expression expected but nothing found");
  EXPECT_EQ(Error("A = )"), "Expression expected but ')' found");
  EXPECT_EQ(Error("A = <="), "Expression expected but '<=' found");
  EXPECT_EQ(Error("(A = 1"), "')' expected but nothing found");
  EXPECT_EQ(Error("(A = 1 Bee"), "')' expected but 'Bee' found");
  EXPECT_EQ(Error("(A = 1 'x y'"), "')' expected but ''x y'' found");
  EXPECT_EQ(Error("A = 1 B"), "Filter expression incorrectly terminated");
  EXPECT_EQ(Error("A = 1 = 2"), "Filter expression incorrectly terminated");
  EXPECT_EQ(Error("A # 1"), "Invalid filter expression character: '#'");
  EXPECT_EQ(Error("A = \x7F"), "Invalid filter expression character: '\x7F'");
  EXPECT_EQ(Error("[First Name = 'X'"), "Unterminated field name");
  EXPECT_EQ(Error("A = 'O''NEIL"), "Unterminated string constant");
  // A zero byte ends the text, inside a constant too.
  EXPECT_EQ(Error(std::string("A = 'x\0y'", 9)), "Unterminated string constant");
}

TEST_F(Parser, PrecedenceAndGrouping) {
  EXPECT_EQ(Parse("State = 'CO' or State = 'NM' and Mode = 'CW'"),
            "OR(=(State,'CO'),AND(=(State,'NM'),=(Mode,'CW')))");
  EXPECT_EQ(Parse("x = 1 or y = 2 and z = 3"), "OR(=(x,'1'),AND(=(y,'2'),=(z,'3')))");
  EXPECT_EQ(Parse("not x = 1 and y = 2"), "AND(NOT(=(x,'1')),=(y,'2'))");
  EXPECT_EQ(Parse("a = 1 or b = 2 or c = 3"), "OR(OR(=(a,'1'),=(b,'2')),=(c,'3'))");
  EXPECT_EQ(Parse("a = 1 and b = 2 and c = 3"), "AND(AND(=(a,'1'),=(b,'2')),=(c,'3'))");
  EXPECT_EQ(Parse("NOT (a = 1 OR b = 2)"), "NOT(OR(=(a,'1'),=(b,'2')))");
  EXPECT_EQ(Parse("a<1 or a<=1 or a>=1 or a>1 or a<>1"),
            "OR(OR(OR(OR(<(a,'1'),<=(a,'1')),>=(a,'1')),>(a,'1')),<>(a,'1'))");
  // Keywords fold a-z only; where a primary stands only NULL, TRUE and
  // FALSE are keywords.
  EXPECT_EQ(Parse("a = NuLl Or b = tRUE aNd c = false"), "OR(=(a,NULL),AND(=(b,True),=(c,False)))");
  EXPECT_EQ(Parse("AND = 1 or OR = 2 and not NOT = 1"),
            "OR(=(AND,'1'),AND(=(OR,'2'),NOT(=(NOT,'1'))))");
  EXPECT_EQ(Parse("A < B"), "<(A,B)");
  EXPECT_EQ(Parse("Paid"), "Paid");
}

TEST_F(Parser, TokensKeepTheirText) {
  EXPECT_EQ(Parse("Name = 'O''NEIL'"), "=(Name,'O'NEIL')");
  EXPECT_EQ(Parse("[First Name] = 'X'"), "=(First Name,'X')");
  EXPECT_EQ(Parse("[Or] = ''"), "=(Or,'')");
  EXPECT_EQ(Parse("A = -5"), "=(A,'-5')");
  EXPECT_EQ(Parse("A = 1.5e3"), "=(A,'1.5e3')");
  EXPECT_EQ(Parse("A = 3-2"), "=(A,'3-2')");
  EXPECT_EQ(Parse("A = -"), "=(A,'-')");
  EXPECT_EQ(Parse("A = null"), "=(A,NULL)");
  EXPECT_EQ(Parse("A = 'null'"), "=(A,'null')");
  // Control characters are blanks; symbols run over letters, digits and
  // "_", and may start with a byte of 0x81..0xFE.
  EXPECT_EQ(Parse("\x01\tRst_2\r\n=\x1F'5'"), "=(Rst_2,'5')");
  EXPECT_EQ(Parse("\xC9tat = 1"), "=(\xC9tat,'1')");
  // A byte of 0x81..0xFE starts a symbol but does not continue one.
  EXPECT_EQ(Error("Ann\xE9"
                  "e = 1"),
            "Filter expression incorrectly terminated");

  const std::string long_text(300, 'x');
  EXPECT_EQ(Parse("A = '" + long_text + "'"), "=(A,'" + long_text.substr(0, 256) + "')");
  // Doubled quotes count as one character toward the cut.
  EXPECT_EQ(Parse("A = '" + std::string(255, 'y') + "''''z'"),
            "=(A,'" + std::string(255, 'y') + "'')");
}

TEST_F(Parser, NestingIsBounded) {
  auto nested = [](int depth) {
    return std::string(static_cast<size_t>(depth), '(') + "A = 1" +
           std::string(static_cast<size_t>(depth), ')');
  };
  EXPECT_EQ(Parse(nested(TExprParser::kMaxNesting)), "=(A,'1')");
  EXPECT_EQ(Error(nested(TExprParser::kMaxNesting + 1)), "Filter expression nested too deeply");
  EXPECT_EQ(Error(std::string(100'000, '(')), "Filter expression nested too deeply");
  // Parentheses closed again do not add up.
  std::string side_by_side;
  for (int i = 0; i < 2000; ++i) side_by_side += i ? " or (A = 1)" : "(A = 1)";
  EXPECT_NO_THROW(Parse(side_by_side));
}

TEST_F(Parser, NodesComeOperandsFirstAndAFailedParseLeavesNoTree) {
  Parse("a = 1 or not b = 2");
  const auto& nodes = parser_.Nodes();
  ASSERT_EQ(nodes.size(), 8u);
  EXPECT_EQ(&nodes.back(), parser_.Root());
  for (size_t i = 0; i < nodes.size(); ++i) {
    for (const TExprNode* operand : {nodes[i].left, nodes[i].right}) {
      if (operand == nullptr) continue;
      const auto at = static_cast<size_t>(
          std::find_if(nodes.begin(), nodes.end(), [&](auto& n) { return &n == operand; }) -
          nodes.begin());
      EXPECT_LT(at, i);
    }
  }
  EXPECT_EQ(Error("a = 1 or (b = 2"), "')' expected but nothing found");
  EXPECT_EQ(parser_.Root(), nullptr);
  EXPECT_TRUE(parser_.Nodes().empty());
}

}  // namespace
}  // namespace logvane

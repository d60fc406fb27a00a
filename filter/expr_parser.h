// TExprParser: reads a filter text into a tree of TExprNode records.
//
// THE LANGUAGE. Texts are 8-bit (Windows-1252). Tokens, after skipping every
// byte 1..32 (blanks and control characters); byte 0 ends the text:
//   symbol     a letter A-Z a-z, "_" or a byte 0x81..0xFE, then any run of
//              letters, digits and "_"
//   [name]     a field name: everything up to the next "]", blanks included
//   'text'     a string constant; '' stands for one quote; only the first
//              256 characters are kept, the rest read and dropped
//   number     "-" or a digit, then the longest run of 0-9 . e E + - ; kept
//              as text, never validated ("1-2" and "-" are constants)
//   ( ) = <> >= <= > <
// Keywords are symbols equal to OR, AND, NOT, NULL, TRUE or FALSE with the
// letters a-z folded to upper case.
//
//   expression  := and-term { OR and-term }        left-associative
//   and-term    := not-term { AND not-term }       left-associative
//   not-term    := NOT comparison | comparison
//   comparison  := primary [ comparison-token primary ]
//   primary     := NULL | TRUE | FALSE | symbol | [name] | constant
//                | "(" expression ")"
// Where a primary stands, only NULL, TRUE and FALSE are keywords: OR, AND
// and NOT there are field names. A text must end after its expression.
//
// THE TREE. Every node is one TExprNode, held in the parser's node list in
// the order the nodes were made. A node is made after its operands, so that
// order is a post-order of the tree: walking the list front to back visits
// every operand before its operator, and the root comes last. Walking,
// checking and freeing the tree therefore need no recursion however long a
// chain of AND and OR is. Parentheses are the only recursion of the parser:
// more than 1000 open at once raise "Filter expression nested too deeply".
//
// Errors are EDatabaseError with the messages of filter_messages.h; a
// failed parse leaves no tree.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "filter/filter_cursor.h"
#include "filter/variant.h"

namespace logvane {

enum TExprNodeKind : uint8_t { nkField = 0, nkConstant = 1, nkOperator = 2 };

enum TExprOperator : uint8_t {
  opNone = 0,
  opAnd = 1,
  opOr = 2,
  opNot = 3,
  opLess = 4,
  opLessEqual = 5,
  opEqual = 6,
  opGreaterEqual = 7,
  opGreater = 8,
  opNotEqual = 9,
};

struct TExprNode {
  TExprNodeKind kind = nkConstant;
  TExprOperator op = opNone;
  // Field reference: the field's name as text. Constant: text for strings
  // and numbers, boolean for TRUE and FALSE, null for NULL (converted to the
  // compared field's type by the check). Operator: empty.
  TVariant value;
  // Comparison nodes, set by the check: -1 plain comparison, 0 or more a
  // match of that many leading characters, -2 whole texts without regard
  // to case.
  int32_t partial_length = -1;
  TExprNode* left = nullptr;   // the first operand, NOT's only one
  TExprNode* right = nullptr;  // the second operand
  // Field references, set by the check: the field the name stands for.
  TFilterField field;
};

class TExprParser {
 public:
  // Parentheses that may be open at once.
  static constexpr int kMaxNesting = 1000;

  explicit TExprParser(TFilterCursor& cursor) : cursor_(cursor) {}
  TExprParser(const TExprParser&) = delete;
  TExprParser& operator=(const TExprParser&) = delete;

  // Parses the cursor's current filter text into a new tree, replacing the
  // old one. Raises EDatabaseError; on an error no tree is left.
  void Parse();

  // The root of the last tree; null before the first parse and after
  // FreeTree.
  TExprNode* Root() const { return root_; }
  // The tree's nodes, operands before their operators (see above).
  std::deque<TExprNode>& Nodes() { return nodes_; }
  // Frees every node; no tree remains.
  void FreeTree();

 private:
  enum class TToken : uint8_t {
    kEnd,
    kSymbol,
    kFieldName,
    kConstant,
    kOpenParen,
    kCloseParen,
    kEqual,
    kNotEqual,
    kGreaterEqual,
    kLessEqual,
    kGreater,
    kLess,
  };

  void NextToken();
  // The source of the current token in quotes, or "nothing" at the end.
  std::string TokenSource() const;
  bool IsKeyword(std::string_view keyword) const;

  TExprNode* ParseExpression();
  TExprNode* ParseAndTerm();
  TExprNode* ParseNotTerm();
  TExprNode* ParseComparison();
  TExprNode* ParsePrimary();
  TExprNode* MakeOperator(TExprOperator op, TExprNode* left, TExprNode* right);
  TExprNode* MakeLeaf(TExprNodeKind kind);

  TFilterCursor& cursor_;
  std::string text_;
  size_t position_ = 0;
  size_t token_start_ = 0;
  TToken token_ = TToken::kEnd;
  std::string token_text_;
  int nesting_ = 0;
  std::deque<TExprNode> nodes_;
  TExprNode* root_ = nullptr;
};

}  // namespace logvane

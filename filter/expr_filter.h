// TExprFilter: the filter of a table cursor. It has the cursor's filter text
// parsed (expr_parser.h), checks the tree once against the cursor's fields,
// converting every compared constant to its field's type, and then answers
// for each record under test whether it passes, evaluating the tree
// bottom-up on a value stack (TStack).
//
// THE CHECK (Prepare) walks the tree operands first. For a comparison whose
// left operand is a field reference it finds the field (once: the
// evaluation reads the value of the field found here), refuses fields that
// are not plain data fields and graphic or binary fields ("<name> is not a
// valid filter type"), sets up partial matching on text fields and converts
// the right operand to the field's type:
//
//   field            text constant                    TRUE / FALSE
//   text, memo       unchanged                        unchanged
//   integer          decimal, 32-bit, else "'%s' is   1 / 0
//                    not a valid integer value"
//   boolean          upper-cased: holds T -> true,    unchanged
//                    else holds F -> false, else "<text> is not a valid
//                    boolean data value."
//   float, currency  a number with the decimal        1 / 0
//                    separator, else "'%s' is not a
//                    valid floating point value"
//   date-time        the date and time formats, else  1 / 0 as a date-time
//                    "'%s' is not a valid date and time"
//
// NULL stays null. Then the type rule: a comparison has a field on the left
// and a constant on the right; AND and OR join two comparisons (or other
// AND, OR and NOT terms); NOT takes one. Anything else is "Error in filter
// expression evaluation". "<", "<=", ">=" and ">" refuse NULL ("Filter
// expression error. <> operators not valid for null comparisons"). The
// check reads no field value: it decides by the tree and the field
// definitions alone, so no record can make a valid filter fail to prepare.
//
// PARTIAL MATCHING. The string options have bit 0 for foCaseInsensitive and
// bit 1 unless foNoPartialCompare. When they are not 0, a text constant
// compared with a text field that ends in "*" loses the "*" and the node's
// partial length becomes the remaining length; otherwise with bit 0 set
// the partial length is -2. A node whose partial length is 0 or more, or
// -2, compares by MatchText (value_compare.h) instead of by value.
//
// EVALUATION walks the same tree with the values of the record under test
// (its operators; the check has made sure what their operands are);
// the stack is emptied first, so a record whose evaluation failed part-way
// leaves nothing behind for the next one. Nothing is allocated per record
// once the stack and the value buffers have grown.
#pragma once

#include <cstdint>
#include <vector>

#include "filter/expr_parser.h"
#include "filter/filter_cursor.h"
#include "filter/variant.h"

namespace logvane {

enum TStackTag : uint8_t { stField = 0, stConstant = 1, stResult = 2 };

// One stack entry. Field references and constants stand for their tree
// node, whose value is the field's name or the constant; a boolean result
// carries its value.
struct TStackNode {
  TStackTag tag = stResult;
  TExprNode* node = nullptr;
  bool result = false;
};

// The value stack: entries are kept and reused, so pushing allocates only
// when the stack grows deeper than ever before.
class TStack {
 public:
  void Push(TStackTag tag, TExprNode* node, bool result);
  // The entry on top, removed; the reference stays valid until the next
  // Push. Raises "Error in filter expression evaluation" when the stack is
  // empty.
  const TStackNode& Pop();
  // Entries in use.
  int Top() const { return top_; }
  // The entry on top. REQUIRES: Top() > 0.
  const TStackNode& Peek() const { return entries_[static_cast<size_t>(top_ - 1)]; }
  // No entries in use; the entries stay allocated.
  void Empty() { top_ = 0; }
  // No entries in use, and their storage freed.
  void Clear();

 private:
  std::vector<TStackNode> entries_;
  int top_ = 0;
};

class TExprFilter {
 public:
  explicit TExprFilter(TFilterCursor& cursor) : cursor_(cursor), parser_(cursor) {}
  ~TExprFilter() { DropExpression(); }
  TExprFilter(const TExprFilter&) = delete;
  TExprFilter& operator=(const TExprFilter&) = delete;

  // A prepared tree is in force.
  bool Active() const { return active_; }
  // A tree is held (only while active).
  bool HasExpression() const { return parser_.Root() != nullptr; }

  // On: drops any tree, then prepares the cursor's filter text unless it is
  // empty and becomes active (an empty text leaves it inactive; a failing
  // Prepare raises and leaves it inactive). Off: drops the tree, inactive.
  void SetExpressionActive(bool on);

  // Takes the string options from the cursor's filter options, parses the
  // filter text and checks the tree (see above). Raises EDatabaseError; a
  // failure leaves no tree.
  void Prepare();

  // Whether the record under test passes; true while inactive. Raises
  // EDatabaseError when a value cannot be compared, and what reading a
  // field raises.
  bool Evaluate();

  // Empties the stack and frees the tree.
  void DropExpression();

  // Bit 0: compare texts without regard to case; bit 1: a trailing "*"
  // makes a partial comparison.
  unsigned StringOptions() const { return string_options_; }
  // The tree of the prepared expression, for inspection; null when none.
  const TExprNode* Root() const { return parser_.Root(); }

 private:
  void CheckPass();
  void CheckOperator(TExprNode& node);
  void SetUpPartialMatch(TExprNode& node, TVariant& constant) const;
  void ConvertConstant(const TFilterField& field, TVariant& constant) const;
  void EvaluationPass();
  // The comparison of `node` between two values, with text matching.
  bool Compare(const TExprNode& node, const TVariant& left, const TVariant& right);
  // The value a popped entry stands for; boolean results go into `scratch`.
  static const TVariant& ValueOf(const TStackNode& entry, TVariant& scratch);

  TFilterCursor& cursor_;
  TExprParser parser_;
  // The tree's operators, operands first: what the evaluation walks.
  std::vector<TExprNode*> operators_;
  TStack stack_;
  bool active_ = false;
  unsigned string_options_ = 0;
  // Reused for the values of one comparison at a time.
  TVariant left_, right_, name_;
  std::string left_text_, right_text_;
};

}  // namespace logvane

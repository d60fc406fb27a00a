// The check and the evaluation of a filter expression.
#include "filter/expr_filter.h"

#include <charconv>

#include "base/errors.h"
#include "base/message_format.h"
#include "filter/filter_messages.h"
#include "filter/value_compare.h"

namespace logvane {

namespace {

[[noreturn]] void EvaluationFails() { throw EDatabaseError(msg::kFilterEvaluation); }

bool IsTextKind(TFilterFieldKind kind) {
  return kind == TFilterFieldKind::kText || kind == TFilterFieldKind::kMemo;
}

bool IsOrdering(TExprOperator op) {
  return op == opLess || op == opLessEqual || op == opGreaterEqual || op == opGreater;
}

bool Holds(TExprOperator op, int order) {
  if (order == kUnordered) return op == opNotEqual;
  switch (op) {
    case opLess: return order < 0;
    case opLessEqual: return order <= 0;
    case opEqual: return order == 0;
    case opGreaterEqual: return order >= 0;
    case opGreater: return order > 0;
    case opNotEqual: return order != 0;
    default: EvaluationFails();
  }
}

// Optional sign, then decimal digits, nothing else; within 32 bits.
bool ReadDecimalInteger(std::string_view text, int32_t* value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end;
}

// A value read as text for a text match: texts themselves, booleans as
// "True" or "False", integers in decimal. The left value of a match is
// always a text field's and the right one a constant left as it was
// written, so no other class reaches here.
std::string_view TextOf(const TVariant& v, std::string& scratch) {
  switch (v.Type()) {
    case TVarType::kText: return v.AsText();
    case TVarType::kBoolean: return v.AsBoolean() ? "True" : "False";
    case TVarType::kInteger: scratch = std::to_string(v.AsInteger()); return scratch;
    default: throw EDatabaseError(msg::kInvalidVariantConversion);
  }
}

}  // namespace

// ---- The stack ------------------------------------------------------------------

void TStack::Push(TStackTag tag, TExprNode* node, bool result) {
  if (entries_.size() <= static_cast<size_t>(top_)) entries_.emplace_back();
  TStackNode& entry = entries_[static_cast<size_t>(top_++)];
  entry.tag = tag;
  entry.node = node;
  entry.result = result;
}

const TStackNode& TStack::Pop() {
  if (top_ == 0) EvaluationFails();
  return entries_[static_cast<size_t>(--top_)];
}

void TStack::Clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  top_ = 0;
}

// ---- Activity ---------------------------------------------------------------------

void TExprFilter::SetExpressionActive(bool on) {
  if (active_) {
    DropExpression();
    active_ = false;
  }
  if (on && !cursor_.FilterText().empty()) {
    Prepare();
    active_ = true;
  }
}

void TExprFilter::DropExpression() {
  operators_.clear();
  operators_.shrink_to_fit();
  stack_.Clear();
  parser_.FreeTree();
}

void TExprFilter::Prepare() {
  const TFilterOptions options = cursor_.FilterOptionSet();
  string_options_ =
      ((options & foCaseInsensitive) ? 1u : 0u) | ((options & foNoPartialCompare) ? 0u : 2u);
  operators_.clear();
  parser_.Parse();
  try {
    stack_.Empty();
    CheckPass();
    if (stack_.Top() != 1 || stack_.Peek().tag != stResult) EvaluationFails();
    stack_.Pop();
    for (TExprNode& node : parser_.Nodes())
      if (node.kind == nkOperator) operators_.push_back(&node);
  } catch (...) {
    DropExpression();
    throw;
  }
}

// ---- The check ----------------------------------------------------------------------

void TExprFilter::CheckPass() {
  for (TExprNode& node : parser_.Nodes()) {
    switch (node.kind) {
      case nkField: stack_.Push(stField, &node, false); break;
      case nkConstant: stack_.Push(stConstant, &node, false); break;
      case nkOperator: CheckOperator(node); break;
    }
  }
}

void TExprFilter::CheckOperator(TExprNode& node) {
  if (node.op == opNot) {
    const TStackNode r = stack_.Pop();
    if (r.tag != stResult) EvaluationFails();
    stack_.Push(stResult, nullptr, !r.result);
    return;
  }
  const TStackNode r = stack_.Pop();
  const TStackNode l = stack_.Pop();
  const TVariant* left = nullptr;
  const TVariant* right = nullptr;
  if (l.tag == stField) {
    TExprNode& ref = *l.node;
    ref.field = cursor_.FindFilterField(ref.value.AsText());
    if (!ref.field.data_field || ref.field.kind == TFilterFieldKind::kBinary)
      throw EDatabaseError(ref.field.name + msg::kNotValidFilterType);
    // Every field counts as null here: the check reads no record.
    left_.SetNull();
    left = &left_;
    // A boolean result has no constant to convert; the type rule below
    // refuses it beside a field.
    if (r.tag == stResult) EvaluationFails();
    // A field reference on the right is converted as its name would be;
    // the type rule refuses it afterwards.
    TVariant* constant = &r.node->value;
    if (r.tag == stField) {
      name_ = r.node->value;
      constant = &name_;
    }
    if (IsTextKind(ref.field.kind) && string_options_ != 0 && !constant->IsNull())
      SetUpPartialMatch(node, *constant);
    ConvertConstant(ref.field, *constant);
    right = constant;
  } else {
    left = &ValueOf(l, left_);
  }
  if (right == nullptr) right = &ValueOf(r, right_);

  if (r.tag == stResult) {
    if (l.tag != stResult) EvaluationFails();
  } else if (l.tag != stField || r.tag != stConstant) {
    EvaluationFails();
  }
  if (node.op == opAnd || node.op == opOr) {
    // AND and OR join boolean results only: "Call and 'x'" passes the type
    // rule above but has no truth value.
    if (l.tag != stResult || r.tag != stResult) EvaluationFails();
    stack_.Push(stResult, nullptr, node.op == opAnd ? l.result && r.result : l.result || r.result);
    return;
  }
  if (right->IsNull() && IsOrdering(node.op)) throw EDatabaseError(msg::kNullComparison);
  stack_.Push(stResult, nullptr, Compare(node, *left, *right));
}

void TExprFilter::SetUpPartialMatch(TExprNode& node, TVariant& constant) const {
  const std::string_view text = constant.AsText();
  if (constant.Type() == TVarType::kText && !text.empty() && text.back() == '*') {
    node.partial_length = static_cast<int32_t>(text.size() - 1);
    const std::string stem(text.substr(0, text.size() - 1));
    constant.SetText(stem);
  } else if ((string_options_ & 1) != 0) {
    node.partial_length = -2;
  }
}

void TExprFilter::ConvertConstant(const TFilterField& field, TVariant& constant) const {
  if (constant.IsNull() || IsTextKind(field.kind)) return;
  const bool is_text = constant.Type() == TVarType::kText;
  const std::string_view text = constant.AsText();
  // TRUE and FALSE are the only constants that are not texts.
  const double flag = constant.AsBoolean() ? 1 : 0;
  switch (field.kind) {
    case TFilterFieldKind::kInteger: {
      if (!is_text) {
        constant.SetInteger(static_cast<int32_t>(flag));
        return;
      }
      int32_t value = 0;
      if (!ReadDecimalInteger(text, &value))
        throw EDatabaseError(FormatMessage(msg::kNotValidInteger, {text}));
      constant.SetInteger(value);
      return;
    }
    case TFilterFieldKind::kBoolean: {
      if (!is_text) return;
      bool has_t = false, has_f = false;
      for (char c : text) {
        if (c == 't' || c == 'T') has_t = true;
        if (c == 'f' || c == 'F') has_f = true;
      }
      if (!has_t && !has_f) throw EDatabaseError(std::string(text) + msg::kNotValidBoolean);
      constant.SetBoolean(has_t);
      return;
    }
    case TFilterFieldKind::kFloat:
    case TFilterFieldKind::kCurrency: {
      double value = flag;
      if (is_text && !cursor_.ReadNumber(text, &value))
        throw EDatabaseError(FormatMessage(msg::kNotValidFloat, {text}));
      constant.SetFloat(value);
      return;
    }
    case TFilterFieldKind::kDateTime: {
      double days = flag;
      if (is_text && !cursor_.ReadDateTime(text, &days))
        throw EDatabaseError(FormatMessage(msg::kNotValidDateTime, {text}));
      constant.SetDateTime(days);
      return;
    }
    default: return;
  }
}

// ---- Evaluation ---------------------------------------------------------------------

bool TExprFilter::Evaluate() {
  if (!active_) return true;
  stack_.Empty();
  EvaluationPass();
  if (stack_.Top() != 1 || stack_.Peek().tag != stResult) EvaluationFails();
  return stack_.Pop().result;
}

// The check has made sure of each operator's operands: NOT, AND and OR take
// boolean results; a comparison takes two boolean results or a field and a
// constant. So the walk visits the operators alone, reads a comparison's
// field and constant from its own operands, and keeps only boolean results
// on the stack; the results are those of the whole tree's walk.
void TExprFilter::EvaluationPass() {
  for (TExprNode* node : operators_) {
    // Popped entries are read before the next push reuses their places.
    if (node->op == opNot) {
      const TStackNode& r = stack_.Pop();
      if (r.tag != stResult) EvaluationFails();
      stack_.Push(stResult, nullptr, !r.result);
      continue;
    }
    if (node->op == opAnd || node->op == opOr) {
      const TStackNode& r = stack_.Pop();
      const TStackNode& l = stack_.Pop();
      if (l.tag != stResult || r.tag != stResult) EvaluationFails();
      const bool result = node->op == opAnd ? l.result && r.result : l.result || r.result;
      stack_.Push(stResult, nullptr, result);
      continue;
    }
    if (node->right->kind == nkOperator) {
      right_.SetBoolean(stack_.Pop().result);
      left_.SetBoolean(stack_.Pop().result);
      stack_.Push(stResult, nullptr, Compare(*node, left_, right_));
      continue;
    }
    cursor_.ReadFilterValue(node->left->field, left_);
    stack_.Push(stResult, nullptr, Compare(*node, left_, node->right->value));
  }
}

const TVariant& TExprFilter::ValueOf(const TStackNode& entry, TVariant& scratch) {
  if (entry.tag != stResult) return entry.node->value;
  scratch.SetBoolean(entry.result);
  return scratch;
}

bool TExprFilter::Compare(const TExprNode& node, const TVariant& left, const TVariant& right) {
  const int32_t partial = node.partial_length;
  if (partial != -1 && !left.IsNull() && !right.IsNull() &&
      (partial >= 0 || (string_options_ & 1) != 0)) {
    const int match =
        MatchText(TextOf(left, left_text_), TextOf(right, right_text_), partial, string_options_);
    return Holds(node.op, match);
  }
  return Holds(node.op, CompareValues(left, right, cursor_));
}

}  // namespace logvane

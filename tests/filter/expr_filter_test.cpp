// The expression filter over a stand-in cursor: constant conversion with
// every message, the field and type rules, null handling, partial and
// case-insensitive matching under all four option sets, the value
// comparison table, and the sound behaviour where a record's damage or a
// long filter must not get in the way.
#include "filter/expr_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "fake_filter_cursor.h"
#include "filter/value_compare.h"
#include "test_support.h"

namespace logvane {
namespace {

using test::MessageOf;

class ExprFilter : public ::testing::Test {
 protected:
  // Prepares `text`; the message of a failure, else "".
  std::string Prepare(const std::string& text, TFilterOptions options = 0) {
    cursor_.text = text;
    cursor_.options = options;
    std::string message = MessageOf([&] { filter_.SetExpressionActive(true); });
    return message == "(no error)" ? "" : message;
  }
  bool Passes(const std::string& text, TFilterOptions options = 0) {
    const std::string error = Prepare(text, options);
    EXPECT_EQ(error, "") << text;
    return filter_.Evaluate();
  }
  // The right operand of the prepared comparison.
  const TVariant& Constant() const { return filter_.Root()->right->value; }

  test::FakeFilterCursor cursor_;
  TExprFilter filter_{cursor_};
};

TEST_F(ExprFilter, AnEmptyFilterAcceptsEveryRecord) {
  EXPECT_EQ(Prepare(""), "");
  EXPECT_FALSE(filter_.Active());
  EXPECT_TRUE(filter_.Evaluate());
  EXPECT_EQ(Prepare(" "), "Expression expected but nothing found");
  EXPECT_FALSE(filter_.Active());
}

TEST_F(ExprFilter, ConstantsTakeTheFieldsType) {
  EXPECT_EQ(Prepare("Qty > 5"), "");
  EXPECT_EQ(Constant(), TVariant::Integer(5));
  EXPECT_EQ(Prepare("Qty = -2147483648"), "");
  EXPECT_EQ(Constant(), TVariant::Integer(INT32_MIN));
  EXPECT_EQ(Prepare("Qty = True"), "");
  EXPECT_EQ(Constant(), TVariant::Integer(1));
  EXPECT_EQ(Prepare("Qty > 'abc'"), "'abc' is not a valid integer value");
  EXPECT_EQ(Prepare("Qty = 1.5"), "'1.5' is not a valid integer value");
  // Beyond 32 bits is refused, not wrapped around.
  EXPECT_EQ(Prepare("Qty = 4294967303"), "'4294967303' is not a valid integer value");
  EXPECT_EQ(Prepare("Qty = 2147483648"), "'2147483648' is not a valid integer value");

  EXPECT_EQ(Prepare("Paid = 'yes'"), "yes is not a valid boolean data value.");
  EXPECT_EQ(Prepare("Paid = '1'"), "1 is not a valid boolean data value.");
  EXPECT_EQ(Prepare("Paid = 'f'"), "");
  EXPECT_EQ(Constant(), TVariant::Boolean(false));
  EXPECT_EQ(Prepare("Paid = 'TF'"), "");
  EXPECT_EQ(Constant(), TVariant::Boolean(true));

  EXPECT_EQ(Prepare("Price < '2.75'"), "");
  EXPECT_EQ(Constant(), TVariant::Float(2.75));
  EXPECT_EQ(Prepare("Cost = 3"), "");
  EXPECT_EQ(Constant(), TVariant::Float(3));
  EXPECT_EQ(Prepare("Price = '2,5'"), "'2,5' is not a valid floating point value");
  EXPECT_EQ(Prepare("Cost = x1"), "'x1' is not a valid floating point value");

  EXPECT_EQ(Prepare("When >= 'D100'"), "");
  EXPECT_EQ(Constant(), TVariant::DateTime(100));
  EXPECT_EQ(Prepare("When = False"), "");
  EXPECT_EQ(Constant(), TVariant::DateTime(0));
  EXPECT_EQ(Prepare("When = '1/2/03'"), "'1/2/03' is not a valid date and time");

  EXPECT_EQ(Prepare("Name = 5"), "");
  EXPECT_EQ(Constant(), TVariant::Text("5"));
  EXPECT_EQ(Prepare("Name = NULL"), "");
  EXPECT_TRUE(Constant().IsNull());
}

TEST_F(ExprFilter, FieldsAndTheTypeRule) {
  EXPECT_EQ(Prepare("Nope = 1"), "Fake: Field 'Nope' not found");
  EXPECT_EQ(Prepare("Calc = 1"), "Calc is not a valid filter type");
  EXPECT_EQ(Prepare("pic = 'x'"), "Pic is not a valid filter type");
  const std::string rule = "Error in filter expression evaluation";
  EXPECT_EQ(Prepare("Name = Call"), rule);
  EXPECT_EQ(Prepare("Qty = Call"), "'Call' is not a valid integer value");
  EXPECT_EQ(Prepare("5 = Name"), rule);
  EXPECT_EQ(Prepare("'a' = 'a'"), rule);
  EXPECT_EQ(Prepare("True"), rule);
  EXPECT_EQ(Prepare("Paid"), rule);
  EXPECT_EQ(Prepare("not Paid"), rule);
  EXPECT_EQ(Prepare("Paid = (Qty = 1)"), rule);
  // A field beside a constant passes the type rule but has no truth value
  // to AND or OR.
  EXPECT_EQ(Prepare("Call and 'x'"), rule);
  EXPECT_EQ(Prepare("Name or 1"), rule);
  EXPECT_EQ(Prepare("(Qty = 1) and (Qty = 2) or not (Name = 'x')"), "");
  // A failed check leaves no tree behind, and the filter inactive.
  EXPECT_EQ(Prepare("Qty = 1 and Nope = 2"), "Fake: Field 'Nope' not found");
  EXPECT_FALSE(filter_.HasExpression());
  EXPECT_FALSE(filter_.Active());
}

TEST_F(ExprFilter, NullEqualsNullAndSortsFirst) {
  EXPECT_EQ(Prepare("Name > NULL"),
            "Filter expression error. <> operators not valid for null comparisons");
  EXPECT_EQ(Prepare("Qty <= null"),
            "Filter expression error. <> operators not valid for null comparisons");
  cursor_["Name"].value.SetNull();
  EXPECT_TRUE(Passes("Name = NULL"));
  EXPECT_FALSE(Passes("Name <> NULL"));
  EXPECT_FALSE(Passes("Name = 'X'"));
  EXPECT_TRUE(Passes("Name <> 'X'"));
  EXPECT_TRUE(Passes("Name < 'X'"));
  EXPECT_FALSE(Passes("Name = 'X*'"));
  EXPECT_FALSE(Passes("Name = 'x'", foCaseInsensitive));
  cursor_["Name"].value.SetText("X");
  EXPECT_FALSE(Passes("Name = NULL"));
  EXPECT_TRUE(Passes("Name <> NULL"));
}

TEST_F(ExprFilter, PartialAndCaseInsensitiveMatching) {
  struct Case {
    TFilterOptions options;
    const char* name;
    bool passes;
  };
  const TFilterOptions ci = foCaseInsensitive, np = foNoPartialCompare;
  const Case cases[] = {
      // Default: "*" asks for a prefix, letter case counts.
      {0, "SMITH", true},
      {0, "SM", true},
      {0, "smith", false},
      {0, "S", false},
      {0, "SM*", true},
      // Case-insensitive prefix.
      {ci, "SMITH", true},
      {ci, "smith", true},
      {ci, "Sm", true},
      {ci, "SN", false},
      // No partial compare: "*" is an ordinary character.
      {np, "SM*", true},
      {np, "SMITH", false},
      {np, "sm*", false},
      // Both: the "*" goes, the whole text compares without regard to case.
      {ci | np, "sm", true},
      {ci | np, "Sm", true},
      {ci | np, "SMITH", false},
      {ci | np, "SM*", false},
  };
  for (const Case& c : cases) {
    cursor_["Name"].value.SetText(c.name);
    EXPECT_EQ(Passes("Name = 'SM*'", c.options), c.passes) << c.name << " options " << +c.options;
  }
  cursor_["Call"].value.SetText("K1ABC");
  EXPECT_TRUE(Passes("Call = 'K*'"));
  EXPECT_FALSE(Passes("Call = 'K'"));
  EXPECT_TRUE(Passes("Call = '*'"));
  EXPECT_TRUE(Passes("Call > 'k1a'", ci));
  EXPECT_TRUE(Passes("Call < 'k'"));  // plain byte order: 'K' < 'k'
  EXPECT_TRUE(Passes("Call <> 'k1abc'"));
  EXPECT_FALSE(Passes("Call <> 'k1abc'", ci));
  // Memo fields match as texts, with the same rules.
  EXPECT_TRUE(Passes("Notes = 'worked*'", ci));
  EXPECT_FALSE(Passes("Notes = 'worked*'"));
  EXPECT_TRUE(Passes("Notes = 'Worked on a quiet band'"));
}

TEST_F(ExprFilter, ValuesOfEveryKindCompare) {
  EXPECT_TRUE(Passes("Qty > 5 and Qty <= 7 and not Qty = 8"));
  EXPECT_TRUE(Passes("Paid = 'T' and Paid > False"));
  EXPECT_TRUE(Passes("Price >= 2.5 and Price < 2.5000001"));
  EXPECT_TRUE(Passes("When > 'D100.25' and When < 'D101'"));
  // Currency compares to four decimals.
  EXPECT_TRUE(Passes("Cost = 1.25004"));
  EXPECT_FALSE(Passes("Cost = 1.2501"));
  cursor_["Price"].value.SetFloat(std::nan(""));
  EXPECT_FALSE(Passes("Price = 1 or Price < 1 or Price > 1"));
  EXPECT_TRUE(Passes("Price <> 1"));
}

TEST(ValueComparison, TheTableOfClasses) {
  test::FakeFilterCursor c;
  auto cmp = [&](const TVariant& a, const TVariant& b) { return CompareValues(a, b, c); };
  EXPECT_EQ(MessageOf([&] { cmp(TVariant(), TVariant::Integer(1)); }), "Invalid variant operation");
  EXPECT_EQ(MessageOf([&] { cmp(TVariant::Null(), TVariant()); }), "Invalid variant operation");
  EXPECT_EQ(cmp(TVariant::Null(), TVariant::Null()), 0);
  EXPECT_EQ(cmp(TVariant::Null(), TVariant::Boolean(false)), -1);
  EXPECT_EQ(cmp(TVariant::Text(""), TVariant::Null()), 1);
  // Text against numbers compares as numbers, and must read as one.
  EXPECT_EQ(cmp(TVariant::Text("10"), TVariant::Integer(9)), 1);
  EXPECT_EQ(cmp(TVariant::Integer(9), TVariant::Text("10")), -1);
  EXPECT_EQ(MessageOf([&] { cmp(TVariant::Text("ten"), TVariant::Float(1)); }),
            "Invalid variant type conversion");
  EXPECT_EQ(cmp(TVariant::Text("abc"), TVariant::Text("abd")), -1);
  EXPECT_EQ(cmp(TVariant::Text("ab"), TVariant::Text("abc")), -1);
  EXPECT_EQ(cmp(TVariant::Text("\xE9"), TVariant::Text("z")), 1);  // bytes unsigned
  EXPECT_EQ(cmp(TVariant::Text("TRUE"), TVariant::Boolean(true)), 0);
  EXPECT_EQ(cmp(TVariant::Text("0"), TVariant::Boolean(false)), 0);
  EXPECT_EQ(MessageOf([&] { cmp(TVariant::Boolean(true), TVariant::Text("yes")); }),
            "Invalid variant type conversion");
  EXPECT_EQ(cmp(TVariant::Boolean(false), TVariant::Boolean(true)), -1);
  EXPECT_EQ(cmp(TVariant::Boolean(true), TVariant::Integer(1)), 0);
  EXPECT_EQ(cmp(TVariant::Currency(2.00004), TVariant::Integer(2)), 0);
  EXPECT_EQ(cmp(TVariant::DateTime(1.5), TVariant::Float(1.5)), 0);
  EXPECT_EQ(cmp(TVariant::DateTime(1.5), TVariant::Currency(1.50001)), -1);  // as floats
  EXPECT_EQ(MessageOf([&] { cmp(TVariant::Currency(1), TVariant::Float(1e300)); }),
            "Invalid variant type conversion");

  EXPECT_EQ(MatchText("SMITH", "SM", 2, 2), 0);
  EXPECT_EQ(MatchText("S", "SM", 2, 2), -1);
  EXPECT_EQ(MatchText("smith", "SM", 2, 3), 0);
  EXPECT_EQ(MatchText("smith", "SM", 2, 1), 1);  // whole texts when not partial
  EXPECT_EQ(MatchText("sm", "SM", -2, 3), 0);
  EXPECT_EQ(MatchText("sm", "SM", -2, 2), 1);
}

TEST_F(ExprFilter, TheCheckReadsNoRecordAndFindsEachFieldOnce) {
  cursor_.fail_reads = true;  // a damaged record in the buffer while preparing
  EXPECT_EQ(Prepare("Name = 'SM*' and Qty > 5 or Call = 'K*'"), "");
  EXPECT_EQ(cursor_.reads, 0);
  EXPECT_EQ(cursor_.lookups, 3);
  EXPECT_THROW(filter_.Evaluate(), EDatabaseError);
  // The failure left entries on the stack; the next record starts afresh.
  cursor_.fail_reads = false;
  EXPECT_TRUE(filter_.Evaluate());
  EXPECT_TRUE(filter_.Evaluate());
  EXPECT_EQ(cursor_.lookups, 3);
  EXPECT_EQ(cursor_.reads, 1 + 3 + 3);
}

TEST_F(ExprFilter, LongAndDeepFiltersNeedNoRecursion) {
  std::string chain = "Qty = 0";
  for (int i = 1; i < 100'000; ++i) chain += " or Qty = " + std::to_string(i);
  EXPECT_TRUE(Passes(chain));
  cursor_["Qty"].value.SetInteger(-1);
  EXPECT_FALSE(filter_.Evaluate());
  filter_.DropExpression();

  const auto depth = static_cast<size_t>(TExprParser::kMaxNesting);
  EXPECT_FALSE(Passes(std::string(depth, '(') + "Qty = 1" + std::string(depth, ')')));
  EXPECT_EQ(Prepare(std::string(100'000, '(') + "Qty = 1" + std::string(100'000, ')')),
            "Filter expression nested too deeply");
}

}  // namespace
}  // namespace logvane

#include "formula_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

namespace vantri::formula {
namespace {

double Eval(const std::string& text) {
  FormulaParser parser;
  EXPECT_TRUE(parser.Compile(text)) << text << ": " << parser.ErrorText();
  return parser.Evaluate();
}

TEST(FormulaParserTest, PrecedenceAndAssociativity) {
  EXPECT_DOUBLE_EQ(Eval("1 + 2 * 3"), 7.0);
  EXPECT_DOUBLE_EQ(Eval("(1 + 2) * 3"), 9.0);
  EXPECT_DOUBLE_EQ(Eval("8 - 3 - 2"), 3.0);
  EXPECT_DOUBLE_EQ(Eval("8 / 4 / 2"), 1.0);
  EXPECT_DOUBLE_EQ(Eval("2 ^ 3 ^ 2"), 512.0);
  EXPECT_DOUBLE_EQ(Eval("-2 ^ 2"), -4.0);
  EXPECT_DOUBLE_EQ(Eval("2 ^ -1"), 0.5);
  EXPECT_DOUBLE_EQ(Eval("--3"), 3.0);
  EXPECT_DOUBLE_EQ(Eval("2 * -3"), -6.0);
  EXPECT_DOUBLE_EQ(Eval("1.5e2 + .5 + 2."), 152.5);
  EXPECT_DOUBLE_EQ(Eval("1 + 2 < 4"), 1.0);
  EXPECT_DOUBLE_EQ(Eval("1 < 2 && 3 >= 4 || 5 != 5"), 0.0);
  EXPECT_DOUBLE_EQ(Eval("!0 + (2 == 2) + (2 <= 1)"), 2.0);
}

TEST(FormulaParserTest, FunctionsAndConstants) {
  EXPECT_NEAR(Eval("sin(pi / 2) + cos(0) + tan(pi / 4)"), 3.0, 1e-15);
  EXPECT_NEAR(Eval("asin(1) + acos(1) + atan(1)"), std::numbers::pi * 0.75, 1e-15);
  EXPECT_NEAR(Eval("atan2(1, -1)"), std::numbers::pi * 0.75, 1e-15);
  EXPECT_NEAR(Eval("log(exp(2.5)) + ln(e)"), 3.5, 1e-15);
  EXPECT_DOUBLE_EQ(Eval("sqrt(16) + abs(-2) + pow(2, 10) + log10(1000)"), 4 + 2 + 1024 + 3);
  EXPECT_DOUBLE_EQ(Eval("min(3, -1, 2) + max(3, 7, 2) + min(5)"), -1 + 7 + 5);
  EXPECT_DOUBLE_EQ(Eval("sum(1, 2, 3) + avg(2, 4)"), 9.0);
  EXPECT_DOUBLE_EQ(Eval("if(2 > 1, 10, 20) + if(0, 1, 2)"), 12.0);
  EXPECT_DOUBLE_EQ(Eval("sign(-3) + floor(2.7) + ceil(2.1) + round(-2.5)"), -1 + 2 + 3 - 3);
  EXPECT_TRUE(std::isnan(Eval("sqrt(-1)")));
  EXPECT_TRUE(std::isinf(Eval("1 / 0")));
}

TEST(FormulaParserTest, IfEvaluatesOnlyTheTakenBranch) {
  FormulaParser parser;
  ASSERT_TRUE(parser.DefineVariable("x"));
  ASSERT_TRUE(parser.Compile("if(x > 0, sqrt(x), 0)"));
  parser.SetVariable("x", -4.0);
  EXPECT_EQ(parser.Evaluate(), 0.0);
  parser.SetVariable("x", 9.0);
  EXPECT_EQ(parser.Evaluate(), 3.0);
}

TEST(FormulaParserTest, CompiledOnceEvaluatedWithNewValues) {
  FormulaParser parser;
  ASSERT_TRUE(parser.DefineVariable("x"));
  ASSERT_TRUE(parser.DefineVariable("K1", 2.0));
  ASSERT_TRUE(parser.DefineVariable("unused"));
  ASSERT_TRUE(parser.Compile("K1 * x^2 + x"));
  for (double x : {-2.0, 0.0, 0.5, 3.0}) {
    parser.SetVariable("x", x);
    EXPECT_DOUBLE_EQ(parser.Evaluate(), 2.0 * x * x + x);
  }
  EXPECT_EQ(parser.used_variables(), (std::vector<std::string>{"K1", "x"}));
  EXPECT_FALSE(parser.UsesVariable("unused"));
  EXPECT_FALSE(parser.SetVariable("k1", 1.0)) << "names are case-sensitive";
}

TEST(FormulaParserTest, RejectsReservedAndMalformedVariableNames) {
  FormulaParser parser;
  EXPECT_FALSE(parser.DefineVariable("sin"));
  EXPECT_FALSE(parser.DefineVariable("pi"));
  EXPECT_FALSE(parser.DefineVariable("1x"));
  EXPECT_FALSE(parser.DefineVariable("a-b"));
  EXPECT_FALSE(parser.DefineVariable(""));
  EXPECT_TRUE(parser.DefineVariable("_a1"));
}

struct BadFormula {
  const char* text;
  const char* message;
  std::size_t position;
};

TEST(FormulaParserTest, ErrorsTellWhatAndWhere) {
  const BadFormula cases[] = {
      {"", "Empty formula", 0},
      {"   ", "Empty formula", 0},
      {"1 +", "Unexpected end of formula", 3},
      {"2 3", "Unexpected number \"3\"", 2},
      {"(1 + 2", "Missing \")\" for the \"(\" at position 1", 6},
      {"1 + 2)", "Unbalanced \")\"", 5},
      {"x + 1", "Unknown variable \"x\"", 0},
      {"foo(1)", "Unknown function \"foo\"", 0},
      {"sin 1", "Function \"sin\" needs \"(\"", 4},
      {"max()", "Function \"max\" takes at least 1 arguments, 0 given", 0},
      {"if(1, 2)", "Function \"if\" takes 3 arguments, 2 given", 0},
      {"sqrt(1, 2)", "Function \"sqrt\" takes 1 argument, 2 given", 0},
      {"1 # 2", "Unexpected character \"#\"", 2},
      {"1 + * 2", "Unexpected \"*\"", 4},
      {"min(1,)", "Unexpected \")\"", 6},
      {". + 1", "Malformed number", 0},
      {"1 < 2 < 3", "Unexpected \"<\"", 6},
  };
  for (const auto& c : cases) {
    FormulaParser parser;
    EXPECT_FALSE(parser.Compile(c.text)) << c.text;
    EXPECT_EQ(parser.error().message, c.message) << c.text;
    EXPECT_EQ(parser.error().position, c.position) << c.text;
    EXPECT_FALSE(parser.IsCompiled());
    EXPECT_TRUE(std::isnan(parser.Evaluate()));
  }
}

TEST(FormulaParserTest, FailedCompileDropsThePreviousProgram) {
  FormulaParser parser;
  ASSERT_TRUE(parser.Compile("1"));
  EXPECT_FALSE(parser.Compile("1 +"));
  EXPECT_EQ(parser.ErrorText(), "Unexpected end of formula at position 4");
  EXPECT_TRUE(std::isnan(parser.Evaluate()));
  ASSERT_TRUE(parser.Compile("2"));
  EXPECT_TRUE(parser.ErrorText().empty());
}

// Hostile formulas (a fuzzer's find: 3,000 open parentheses overflowed the stack) are refused
// with a message; formulas of any sensible depth still compile.
TEST(FormulaParserTest, NestingAndLengthAreBounded) {
  FormulaParser parser;
  EXPECT_FALSE(parser.Compile(std::string(3000, '(') + "1"));
  EXPECT_EQ(parser.error().message, "Formula nested too deeply");
  EXPECT_FALSE(parser.Compile(std::string(3000, '-') + "1"));
  EXPECT_EQ(parser.error().message, "Formula nested too deeply");
  EXPECT_FALSE(parser.Compile(std::string(3000, '!') + "(((" + std::string(3000, '-')));
  EXPECT_EQ(parser.error().message, "Formula nested too deeply");

  std::string chain = "1";
  for (int i = 0; i < 5000; ++i) chain += "+1";
  EXPECT_FALSE(parser.Compile(chain));
  EXPECT_EQ(parser.error().message, "Formula too long");

  const std::string nested = std::string(50, '(') + "1+2" + std::string(50, ')');
  ASSERT_TRUE(parser.Compile(nested)) << parser.ErrorText();
  EXPECT_EQ(parser.Evaluate(), 3.0);
  std::string sum = "1";
  for (int i = 0; i < 500; ++i) sum += "+1";
  ASSERT_TRUE(parser.Compile(sum)) << parser.ErrorText();
  EXPECT_EQ(parser.Evaluate(), 501.0);
}

TEST(FormulaParserTest, HelpTableListsEveryFunction) {
  const auto& table = FormulaParser::HelpTable();
  for (const char* name : {"sin(", "cos(", "sqrt(", "min(", "max(", "if(", "pow(", "pi"}) {
    const bool listed = std::any_of(table.begin(), table.end(), [&](const SymbolHelp& row) {
      return row.symbol.rfind(name, 0) == 0 && !row.description.empty();
    });
    EXPECT_TRUE(listed) << name;
  }
}

}  // namespace
}  // namespace vantri::formula

#include "util/tokens.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace bravik {
namespace {

TEST(TokensTest, BracketedTripleReadsLikePlainNumbers) {
  for (const char* text : {"1.5 -2 3e2", "(1.5,-2,3e2)", " ( 1.5 , -2 ,3e2 ) ", "(1.5 ,-2, 3e2)"}) {
    std::istringstream in(text);
    double v[3] = {9, 9, 9};
    ASSERT_TRUE(readTriple(in, v)) << text;
    EXPECT_EQ(v[0], 1.5);
    EXPECT_EQ(v[1], -2.0);
    EXPECT_EQ(v[2], 300.0);
  }
}

TEST(TokensTest, BracketClosedEarlyFillsZerosAndMissingCloseFails) {
  std::istringstream early("(4, 5) next");
  double v[3] = {9, 9, 9};
  ASSERT_TRUE(readTriple(early, v));
  EXPECT_EQ(v[0], 4.0);
  EXPECT_EQ(v[1], 5.0);
  EXPECT_EQ(v[2], 0.0);
  std::string word;
  ASSERT_TRUE(readWord(early, word));
  EXPECT_EQ(word, "next");

  std::istringstream pair("(1.5)");
  double p[2] = {9, 9};
  ASSERT_TRUE(readPair(pair, p));
  EXPECT_EQ(p[0], 1.5);
  EXPECT_EQ(p[1], 0.0);

  for (const char* text : {"(1, 2, 3 4", "(1, 2", "(1 2 3)", "1 2"}) {
    std::istringstream in(text);
    double w[3] = {7, 7, 7};
    EXPECT_FALSE(readTriple(in, w)) << text;
    EXPECT_TRUE(in.fail()) << text;
    EXPECT_EQ(w[0], 7.0) << "target must keep its values: " << text;
  }
}

TEST(TokensTest, SwitchAcceptsOnlyZeroAndOne) {
  bool value = true;
  std::istringstream good("0 1");
  EXPECT_TRUE(readSwitch(good, value));
  EXPECT_FALSE(value);
  EXPECT_TRUE(readSwitch(good, value));
  EXPECT_TRUE(value);
  for (const char* text : {"2", "on", "01", "1.0"}) {
    std::istringstream in(text);
    EXPECT_FALSE(readSwitch(in, value)) << text;
    EXPECT_TRUE(in.fail());
  }
}

TEST(TokensTest, IntegerFieldRejectsFractions) {
  int value = 3;
  std::istringstream in("5.5");
  EXPECT_FALSE(readInt(in, value));
  EXPECT_EQ(value, 3);
  std::istringstream ok("-12");
  EXPECT_TRUE(readInt(ok, value));
  EXPECT_EQ(value, -12);
}

TEST(TokensTest, OptionalNumberLeavesAWordUnread) {
  std::istringstream in("2.5 stop-dep");
  double value = 0.0;
  EXPECT_TRUE(readOptionalDouble(in, value));
  EXPECT_EQ(value, 2.5);
  EXPECT_FALSE(readOptionalDouble(in, value));
  std::string word;
  ASSERT_TRUE(readWord(in, word));
  EXPECT_EQ(word, "stop-dep");
  EXPECT_FALSE(readOptionalDouble(in, value));
}

TEST(TokensTest, CommentLinesAreSkipped) {
  std::istringstream in("  # a comment\n# another\n  P1 co\n");
  skipCommentLines(in);
  std::string word;
  ASSERT_TRUE(readWord(in, word));
  EXPECT_EQ(word, "P1");
}

}  // namespace
}  // namespace bravik

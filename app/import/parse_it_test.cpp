#include "parse_it.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "testing/temp_folder.h"

namespace vantri::import {
namespace {

using Fields = std::vector<std::string>;

Fields Split(const std::string& text, const std::string& separators) {
  CParseIt parser;
  EXPECT_TRUE(parser.Parse(text, separators));
  Fields out;
  for (const auto& f : parser.fields()) out.push_back(f.text());
  return out;
}

// The import splits lines with the typed separators followed by a TAB.
const std::string kImportSeparators = std::string(", ;") + '\t';

TEST(CParseItTest, SpaceCollapsingAndEmptyFields) {
  EXPECT_EQ(Split("p1 10.5 20 30", kImportSeparators), (Fields{"p1", "10.5", "20", "30"}));
  EXPECT_EQ(Split("p1,10.5,20,30", kImportSeparators), (Fields{"p1", "10.5", "20", "30"}));
  EXPECT_EQ(Split("p1, 10.5", kImportSeparators), (Fields{"p1", "", "10.5"}));
  EXPECT_EQ(Split("   p1    2", kImportSeparators), (Fields{"p1", "2"}));
  EXPECT_EQ(Split("p1,,2", kImportSeparators), (Fields{"p1", "", "2"}));
  EXPECT_EQ(Split("p1\t\t2", kImportSeparators), (Fields{"p1", "", "2"}));
  EXPECT_EQ(Split("p1 ,2", kImportSeparators), (Fields{"p1", "", "2"}));
  EXPECT_EQ(Split("p1,2,", kImportSeparators), (Fields{"p1", "2", ""}));
  EXPECT_EQ(Split("p1 2 ", kImportSeparators), (Fields{"p1", "2", ""}));
  EXPECT_EQ(Split("", kImportSeparators), (Fields{""}));
  // A space that is not a separator is data; there is no quoting.
  EXPECT_EQ(Split("my point,\"1,5\"", ","), (Fields{"my point", "\"1", "5\""}));
}

TEST(CParseItTest, LinesOfACrLfText) {
  EXPECT_EQ(Split("a\r\nb\r\n", "\n\r"), (Fields{"a", "", "b", "", ""}));
  EXPECT_EQ(Split("a\n\nb", "\n\r"), (Fields{"a", "", "b"}));
}

TEST(CParseItTest, SeparatorSetHoldsAtMostEightCharacters) {
  CParseIt parser;
  parser.SetSeparators("abcdefghij");
  EXPECT_EQ(parser.separators(), "abcdefgh");
  EXPECT_TRUE(parser.IsSeparator('h'));
  EXPECT_FALSE(parser.IsSeparator('i'));
  CParseIt fresh;
  EXPECT_TRUE(fresh.IsSeparator(','));
  EXPECT_FALSE(fresh.IsSeparator(';'));
}

TEST(CParseItTest, FieldAccessIsOneBasedAndBounded) {
  CParseIt parser;
  ASSERT_TRUE(parser.Parse("id7,12.5,-3,x", ","));
  ASSERT_EQ(parser.FieldCount(), 4);
  std::string text = "old";
  EXPECT_TRUE(parser.Field(1, &text));
  EXPECT_EQ(text, "id7");
  EXPECT_FALSE(parser.Field(0, &text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(parser.Field(5, &text));

  char small[4];
  EXPECT_TRUE(parser.Field(2, small, sizeof small));
  EXPECT_STREQ(small, "12.");
  EXPECT_FALSE(parser.Field(9, small, sizeof small));
  EXPECT_STREQ(small, "");

  double d = 0.0;
  int i = 0;
  long l = 0;
  EXPECT_TRUE(parser.FieldDouble(2, &d));
  EXPECT_EQ(d, 12.5);
  EXPECT_TRUE(parser.FieldInt(3, &i));
  EXPECT_EQ(i, -3);
  EXPECT_TRUE(parser.FieldLong(4, &l));
  EXPECT_EQ(l, 0) << "non-numeric text converts to 0";
  i = 42;
  EXPECT_FALSE(parser.FieldInt(5, &i));
  EXPECT_EQ(i, 42);
}

TEST(CParseItTest, LoadedTextIsKept) {
  test_support::TempFolder temp;
  const std::string path = temp / "load.txt";
  { std::ofstream(path, std::ios::binary) << "a;b;c"; }
  CParseIt parser;
  ASSERT_TRUE(parser.LoadFile(path));
  EXPECT_FALSE(parser.LoadFile(path)) << "a second load does nothing";
  EXPECT_FALSE(parser.Parse("x;y", ";")) << "a given text is refused once one is loaded";
  parser.SetSeparators(";");
  ASSERT_TRUE(parser.Parse());
  EXPECT_EQ(parser.FieldCount(), 3);

  const std::string empty = temp / "empty.txt";
  { std::ofstream(empty, std::ios::binary); }
  CParseIt other;
  EXPECT_FALSE(other.LoadFile(empty));
  EXPECT_FALSE(other.LoadFile(path + ".missing"));
  EXPECT_FALSE(other.Parse());
}

// A folder, a device and a FIFO are refused without an exception (a folder once let
// std::ios_base::failure escape; /dev/zero never ended; a FIFO without a writer blocked).
TEST(CParseItTest, SpecialFilesAreRefusedWithoutThrowing) {
  const std::string fifo = testing::TempDir() + "parse_it_test_fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string zero_link = testing::TempDir() + "parse_it_test_zero";
  std::remove(zero_link.c_str());
  ASSERT_EQ(symlink("/dev/zero", zero_link.c_str()), 0);
  for (const std::string& path : {testing::TempDir(), std::string("/dev/zero"), zero_link, fifo}) {
    CParseIt parser;
    bool loaded = true;
    EXPECT_NO_THROW(loaded = parser.LoadFile(path)) << path;
    EXPECT_FALSE(loaded) << path;
  }
  std::remove(fifo.c_str());
  std::remove(zero_link.c_str());
}

}  // namespace
}  // namespace vantri::import

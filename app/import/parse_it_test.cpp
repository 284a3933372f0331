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

Fields split(const std::string& text, const std::string& separators) {
  CParseIt parser;
  EXPECT_TRUE(parser.parse(text, separators));
  Fields out;
  for (const auto& f : parser.fields()) out.push_back(f.text());
  return out;
}

// The import splits lines with the typed separators followed by a TAB.
const std::string kImportSeparators = std::string(", ;") + '\t';

TEST(CParseItTest, SpaceCollapsingAndEmptyFields) {
  EXPECT_EQ(split("p1 10.5 20 30", kImportSeparators), (Fields{"p1", "10.5", "20", "30"}));
  EXPECT_EQ(split("p1,10.5,20,30", kImportSeparators), (Fields{"p1", "10.5", "20", "30"}));
  EXPECT_EQ(split("p1, 10.5", kImportSeparators), (Fields{"p1", "", "10.5"}));
  EXPECT_EQ(split("   p1    2", kImportSeparators), (Fields{"p1", "2"}));
  EXPECT_EQ(split("p1,,2", kImportSeparators), (Fields{"p1", "", "2"}));
  EXPECT_EQ(split("p1\t\t2", kImportSeparators), (Fields{"p1", "", "2"}));
  EXPECT_EQ(split("p1 ,2", kImportSeparators), (Fields{"p1", "", "2"}));
  EXPECT_EQ(split("p1,2,", kImportSeparators), (Fields{"p1", "2", ""}));
  EXPECT_EQ(split("p1 2 ", kImportSeparators), (Fields{"p1", "2", ""}));
  EXPECT_EQ(split("", kImportSeparators), (Fields{""}));
  // A space that is not a separator is data; there is no quoting.
  EXPECT_EQ(split("my point,\"1,5\"", ","), (Fields{"my point", "\"1", "5\""}));
}

TEST(CParseItTest, LinesOfACrLfText) {
  EXPECT_EQ(split("a\r\nb\r\n", "\n\r"), (Fields{"a", "", "b", "", ""}));
  EXPECT_EQ(split("a\n\nb", "\n\r"), (Fields{"a", "", "b"}));
}

TEST(CParseItTest, SeparatorSetHoldsAtMostEightCharacters) {
  CParseIt parser;
  parser.setSeparators("abcdefghij");
  EXPECT_EQ(parser.separators(), "abcdefgh");
  EXPECT_TRUE(parser.isSeparator('h'));
  EXPECT_FALSE(parser.isSeparator('i'));
  CParseIt fresh;
  EXPECT_TRUE(fresh.isSeparator(','));
  EXPECT_FALSE(fresh.isSeparator(';'));
}

TEST(CParseItTest, FieldAccessIsOneBasedAndBounded) {
  CParseIt parser;
  ASSERT_TRUE(parser.parse("id7,12.5,-3,x", ","));
  ASSERT_EQ(parser.fieldCount(), 4);
  std::string text = "old";
  EXPECT_TRUE(parser.field(1, &text));
  EXPECT_EQ(text, "id7");
  EXPECT_FALSE(parser.field(0, &text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(parser.field(5, &text));

  char small[4];
  EXPECT_TRUE(parser.field(2, small, sizeof small));
  EXPECT_STREQ(small, "12.");
  EXPECT_FALSE(parser.field(9, small, sizeof small));
  EXPECT_STREQ(small, "");

  double d = 0.0;
  int i = 0;
  long l = 0;
  EXPECT_TRUE(parser.fieldDouble(2, &d));
  EXPECT_EQ(d, 12.5);
  EXPECT_TRUE(parser.fieldInt(3, &i));
  EXPECT_EQ(i, -3);
  EXPECT_TRUE(parser.fieldLong(4, &l));
  EXPECT_EQ(l, 0) << "non-numeric text converts to 0";
  i = 42;
  EXPECT_FALSE(parser.fieldInt(5, &i));
  EXPECT_EQ(i, 42);
}

TEST(CParseItTest, LoadedTextIsKept) {
  test_support::TempFolder temp;
  const std::string path = temp / "load.txt";
  { std::ofstream(path, std::ios::binary) << "a;b;c"; }
  CParseIt parser;
  ASSERT_TRUE(parser.loadFile(path));
  EXPECT_FALSE(parser.loadFile(path)) << "a second load does nothing";
  EXPECT_FALSE(parser.parse("x;y", ";")) << "a given text is refused once one is loaded";
  parser.setSeparators(";");
  ASSERT_TRUE(parser.parse());
  EXPECT_EQ(parser.fieldCount(), 3);

  const std::string empty = temp / "empty.txt";
  { std::ofstream(empty, std::ios::binary); }
  CParseIt other;
  EXPECT_FALSE(other.loadFile(empty));
  EXPECT_FALSE(other.loadFile(path + ".missing"));
  EXPECT_FALSE(other.parse());
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
    EXPECT_NO_THROW(loaded = parser.loadFile(path)) << path;
    EXPECT_FALSE(loaded) << path;
  }
  std::remove(fifo.c_str());
  std::remove(zero_link.c_str());
}

}  // namespace
}  // namespace vantri::import

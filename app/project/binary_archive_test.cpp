#include "project/binary_archive.h"

#include <gtest/gtest.h>

#include <random>

namespace vantri::project {
namespace {

// The prefix switches form at 255 and 0xFFFE; the bytes before the text are pinned at each side.
TEST(BinaryArchive, TextLengthPrefixFormsAtTheirBoundaries) {
  struct Case {
    size_t length;
    std::string prefix;
  };
  const Case cases[] = {{0, std::string(1, '\0')},
                        {254, "\xFE"},
                        {255, std::string("\xFF\xFF\x00", 3)},
                        {0xFFFD, "\xFF\xFD\xFF"},
                        {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
                        {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)}};
  for (const Case& c : cases) {
    const std::string text(c.length, 'a');
    ArchiveWriter out;
    out.WriteText(text);
    ASSERT_EQ(out.bytes().size(), c.prefix.size() + c.length) << c.length;
    EXPECT_EQ(out.bytes().substr(0, c.prefix.size()), c.prefix) << c.length;
    ArchiveReader in(out.bytes());
    EXPECT_EQ(in.ReadText(), text);
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(in.BytesLeft(), 0u);
  }
}

TEST(BinaryArchive, NumbersAreLittleEndianAndRoundTrip) {
  ArchiveWriter out;
  out.WriteInt(206);
  out.WriteInt(-2);
  out.WriteDouble(1.7976931348623157e308);
  out.WriteDouble(-0.1);
  EXPECT_EQ(out.bytes().substr(0, 8), std::string("\xCE\x00\x00\x00\xFE\xFF\xFF\xFF", 8));
  ArchiveReader in(out.bytes());
  EXPECT_EQ(in.ReadInt(), 206);
  EXPECT_EQ(in.ReadInt(), -2);
  EXPECT_EQ(in.ReadDouble(), 1.7976931348623157e308);
  EXPECT_EQ(in.ReadDouble(), -0.1);
  EXPECT_TRUE(in.ok());
}

TEST(BinaryArchive, TextsAreStoredInWindows1252WhenTheyFitAndAsUtf8Otherwise) {
  ArchiveWriter out;
  out.WriteText("C:\\Volo\\caffè €.tif");  // every character has a Windows-1252 byte
  out.WriteText("снимок.tif");             // none of these has one
  const std::string& bytes = out.bytes();
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 19u);
  EXPECT_EQ(bytes.substr(1, 19), "C:\\Volo\\caff\xE8 \x80.tif");
  ArchiveReader in(bytes);
  EXPECT_EQ(in.ReadText(), "C:\\Volo\\caffè €.tif");
  EXPECT_EQ(in.ReadText(), "снимок.tif");
}

TEST(BinaryArchive, ReadsUtf16TextsOfUnicodeBuilds) {
  std::string bytes("\xFF\xFE\xFF\x03", 4);
  bytes += std::string("a\x00\xE8\x00\xAC\x20", 6);  // "aè€"
  ArchiveReader in(bytes);
  EXPECT_EQ(in.ReadText(), "aè€");
  EXPECT_TRUE(in.ok());
}

// Every byte string written comes back unchanged: "Ã©tude" (whose Windows-1252 bytes are the
// UTF-8 of "étude") once came back as "étude", and folder names that are not UTF-8 changed.
TEST(BinaryArchive, EveryTextRoundTripsByteForByte) {
  const std::string texts[] = {"",
                               "plain/ascii.tif",
                               "/data/étude/a.tif",
                               "/data/Ã©tude/a.tif",
                               "/data/Î©/a.tif",
                               "/data/\xE9tude/a.tif",
                               "/data/\xFF\xFE\x80/\xC3",
                               "снимок \xE9 €",
                               "emoji \xF0\x9F\x93\xB7 and \xED\xA0\x80 surrogate bytes",
                               std::string(300, '\xE9'),
                               std::string("nul\0byte", 8)};
  ArchiveWriter out;
  for (const std::string& text : texts) out.WriteText(text);
  out.WriteInt(7);
  ArchiveReader in(out.bytes());
  for (const std::string& text : texts) EXPECT_EQ(in.ReadText(), text);
  EXPECT_EQ(in.ReadInt(), 7);
  EXPECT_TRUE(in.ok());
  EXPECT_EQ(in.BytesLeft(), 0u);
}

// Files of the earlier writer: it stored the code page whenever a text fitted it, so stored bytes
// that are UTF-8 of a representable text were that text's code page form.
TEST(BinaryArchive, EarlierFilesReadTheTextThatWasWritten) {
  const std::string stored = "\x0C/data/\xC3\xA9tude";  // "Ã©tude" in Windows-1252
  ArchiveReader in(stored);
  std::string bytes;
  EXPECT_EQ(in.ReadText(&bytes), "/data/Ã©tude");
  EXPECT_EQ(bytes, "/data/\xC3\xA9tude");
  const std::string_view cyrillic = "\x0C\xD1\x81\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA";
  ArchiveReader utf8(cyrillic);
  EXPECT_EQ(utf8.ReadText(), "снимок") << "UTF-8 of a text the code page cannot hold";
}

TEST(BinaryArchive, ShortInputFailsAndStaysFailed) {
  ArchiveWriter out;
  out.WriteText(std::string(300, 'x'));
  const std::string full = out.bytes();
  for (size_t cut = 0; cut < full.size(); ++cut) {
    ArchiveReader in(std::string_view(full).substr(0, cut));
    EXPECT_TRUE(in.ReadText().empty()) << cut;
    EXPECT_FALSE(in.ok()) << cut;
    EXPECT_EQ(in.ReadInt(), 0);
  }
  // A 32-bit length far beyond the data.
  const std::string long_length("\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 7);
  ArchiveReader huge(long_length);
  EXPECT_TRUE(huge.ReadText().empty());
  EXPECT_FALSE(huge.ok());
}

TEST(BinaryArchive, RandomBytesNeverReadPastTheEnd) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 2000; ++trial) {
    std::string bytes(random() % 64, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    ArchiveReader in(bytes);
    while (in.ok() && in.BytesLeft() > 0) {
      in.ReadText();
      in.ReadInt();
    }
    EXPECT_LE(in.BytesLeft(), bytes.size());
  }
}

}  // namespace
}  // namespace vantri::project

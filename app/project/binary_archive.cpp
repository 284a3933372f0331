#include "binary_archive.h"

#include <array>
#include <cstring>

namespace vantri::project {
namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252; the five unassigned bytes map to the
// C1 control of the same value, as Windows' own conversion does.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at s[i]; returns its length, 0 when malformed.
size_t DecodeUtf8At(std::string_view s, size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  size_t len = b0 < 0x80 ? 1 : (b0 >> 5) == 6 ? 2 : (b0 >> 4) == 14 ? 3 : (b0 >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMinForLength[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMinForLength[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

int Windows1252ByteOf(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (size_t k = 0; k < kHighControls.size(); ++k)
    if (kHighControls[k] == cp) return static_cast<int>(0x80 + k);
  return -1;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(bytes, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

bool EncodeWindows1252(std::string_view utf8, std::string& out) {
  out.clear();
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(utf8, i, cp);
    if (len == 0) return false;
    const int byte = Windows1252ByteOf(cp);
    if (byte < 0) return false;
    out += static_cast<char>(byte);
    i += len;
  }
  return true;
}

std::string DecodeWindows1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : char32_t{b}, out);
  }
  return out;
}

std::string DecodeStoredText(std::string_view stored) {
  std::string unused;
  if (IsValidUtf8(stored) && !EncodeWindows1252(stored, unused)) return std::string(stored);
  return DecodeWindows1252(stored);
}

bool EncodeStoredText(std::string_view text, std::string& stored) {
  if (EncodeWindows1252(text, stored) && DecodeStoredText(stored) == text) return true;
  stored.assign(text);
  return DecodeStoredText(stored) == text;
}

namespace {

// UTF-16 units of `text`; a byte that is no part of valid UTF-8 becomes the lone low surrogate
// 0xDC00 + byte, which the reader turns back into the byte, so any byte string round-trips.
std::u16string Utf16WithEscapedBytes(std::string_view text) {
  std::u16string units;
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(text, i, cp);
    if (len == 0) {
      units += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return units;
}

}  // namespace

void ArchiveWriter::WriteRaw(const void* data, size_t size) {
  bytes_.append(static_cast<const char*>(data), size);
}

void ArchiveWriter::WriteByte(uint8_t value) { bytes_ += static_cast<char>(value); }

void ArchiveWriter::WriteInt(int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) WriteByte(static_cast<uint8_t>(u >> shift));
}

void ArchiveWriter::WriteDouble(double value) {
  uint64_t u = 0;
  std::memcpy(&u, &value, sizeof u);
  for (int shift = 0; shift < 64; shift += 8) WriteByte(static_cast<uint8_t>(u >> shift));
}

void ArchiveWriter::WriteLength(size_t n) {
  if (n < 0xFF) {
    WriteByte(static_cast<uint8_t>(n));
  } else if (n < 0xFFFE) {
    WriteByte(0xFF);
    WriteByte(static_cast<uint8_t>(n));
    WriteByte(static_cast<uint8_t>(n >> 8));
  } else {
    WriteByte(0xFF);
    WriteByte(0xFF);
    WriteByte(0xFF);
    WriteInt(static_cast<int32_t>(static_cast<uint32_t>(n)));
  }
}

void ArchiveWriter::WriteText(std::string_view utf8) {
  std::string stored;
  if (EncodeStoredText(utf8, stored)) {
    WriteLength(stored.size());
    WriteRaw(stored.data(), stored.size());
    return;
  }
  // Neither 8-bit form reads back byte for byte (bytes that are not UTF-8, or a Windows-1252
  // text whose bytes look like other UTF-8): the UTF-16 form of Unicode builds with escapes.
  const std::u16string units = Utf16WithEscapedBytes(utf8);
  WriteByte(0xFF);
  WriteByte(0xFE);
  WriteByte(0xFF);
  WriteLength(units.size());
  for (const char16_t unit : units) {
    WriteByte(static_cast<uint8_t>(unit));
    WriteByte(static_cast<uint8_t>(unit >> 8));
  }
}

bool ArchiveReader::ReadRaw(void* out, size_t size) {
  if (!ok_ || size > BytesLeft()) {
    ok_ = false;
    std::memset(out, 0, size);
    return false;
  }
  std::memcpy(out, bytes_.data() + pos_, size);
  pos_ += size;
  return true;
}

void ArchiveReader::Skip(size_t count) {
  if (!ok_ || count > BytesLeft()) {
    ok_ = false;
    return;
  }
  pos_ += count;
}

uint8_t ArchiveReader::ReadByte() {
  uint8_t b = 0;
  ReadRaw(&b, 1);
  return b;
}

uint16_t ArchiveReader::ReadU16() {
  uint8_t b[2];
  ReadRaw(b, 2);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t ArchiveReader::ReadU32() {
  uint8_t b[4];
  ReadRaw(b, 4);
  return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

int32_t ArchiveReader::ReadInt() { return static_cast<int32_t>(ReadU32()); }

double ArchiveReader::ReadDouble() {
  uint8_t b[8];
  ReadRaw(b, 8);
  uint64_t u = 0;
  for (int k = 7; k >= 0; --k) u = (u << 8) | b[k];
  double value = 0.0;
  std::memcpy(&value, &u, sizeof value);
  return value;
}

std::string ArchiveReader::ReadText(std::string* stored_bytes) {
  if (stored_bytes != nullptr) stored_bytes->clear();
  size_t length = ReadByte();
  if (length == 0xFF) {
    const uint16_t wide = ReadU16();
    if (wide == 0xFFFE) return ReadUtf16Text();
    length = wide == 0xFFFF ? ReadU32() : wide;
  }
  if (!ok_ || length > BytesLeft()) {
    ok_ = false;
    return {};
  }
  const std::string_view stored = bytes_.substr(pos_, length);
  pos_ += length;
  if (stored_bytes != nullptr) stored_bytes->assign(stored);
  return DecodeStoredText(stored);
}

std::string ArchiveReader::ReadUtf16Text() {
  size_t units = ReadByte();
  if (units == 0xFF) {
    const uint16_t wide = ReadU16();
    units = wide == 0xFFFF ? ReadU32() : wide;
  }
  if (!ok_ || units > BytesLeft() / 2) {
    ok_ = false;
    return {};
  }
  std::string out;
  for (size_t k = 0; k < units; ++k) {
    char32_t cp = ReadU16();
    if (cp >= 0xD800 && cp < 0xDC00 && k + 1 < units) {
      const char32_t low = ReadU16();
      ++k;
      cp = (low >= 0xDC00 && low < 0xE000) ? 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00)
                                           : 0xFFFD;
    } else if (cp >= 0xDC80 && cp < 0xDD00) {
      out += static_cast<char>(cp - 0xDC00);  // an escaped byte that is no part of UTF-8
      continue;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    AppendUtf8(cp, out);
  }
  return out;
}

}  // namespace vantri::project

#pragma once
// Little-endian binary archive of the project file (.bun): 32-bit ints and bools, IEEE-754
// doubles and length-prefixed texts, as written by the original Windows program.
//
// Text layout: length prefix, then the bytes without terminator. The prefix is one byte when
// the length is below 255; otherwise 0xFF followed by a 16-bit length when the length is below
// 0xFFFE; otherwise 0xFF, 0xFFFF and a 32-bit length. 0xFF 0xFFFE marks a UTF-16LE text (written
// by Unicode builds) whose own prefix follows; it is accepted on reading and never written.
//
// Encoding: texts (UTF-8 in memory, or any bytes: folder names need not be UTF-8) are stored in
// the Windows-1252 code page. On reading, stored bytes that form valid UTF-8 of a text that the
// code page cannot represent are taken as UTF-8; anything else is decoded as Windows-1252 (the
// original program never stored UTF-8 of a representable text, so "Ã©tude" stored as C3 A9 is
// "Ã©tude", not "étude"). A text is stored as UTF-8 when its code-page form would not read back
// unchanged, and in the UTF-16 form, with bytes that are not UTF-8 escaped as lone surrogates
// 0xDC80..0xDCFF, when neither 8-bit form does: every text reads back byte for byte.

#include <cstdint>
#include <string>
#include <string_view>

namespace vantri::project {

class ArchiveWriter {
 public:
  void WriteInt(int32_t value);
  void WriteDouble(double value);
  void WriteByte(uint8_t value);
  void WriteText(std::string_view utf8);
  void WriteRaw(const void* data, size_t size);
  const std::string& bytes() const { return bytes_; }

 private:
  void WriteLength(size_t n);
  std::string bytes_;
};

// Reads from a byte buffer; every read is bounded by the bytes left. After the first failed read
// the reader stays failed and every further read yields zero values.
class ArchiveReader {
 public:
  // The reader keeps a view: the bytes must outlive it.
  explicit ArchiveReader(std::string_view bytes) : bytes_(bytes) {}
  explicit ArchiveReader(std::string&&) = delete;

  int32_t ReadInt();
  double ReadDouble();
  uint8_t ReadByte();
  // `stored_bytes` (optional) receives the 8-bit bytes as stored, empty for the UTF-16 form: old
  // files may need them to find a path again.
  std::string ReadText(std::string* stored_bytes = nullptr);

  bool ok() const { return ok_; }
  void Fail() { ok_ = false; }
  // The unread bytes, for nested readers; Skip() consumes them (bounded by the bytes left).
  std::string_view remaining() const { return bytes_.substr(pos_); }
  void Skip(size_t count);
  size_t BytesLeft() const { return bytes_.size() - pos_; }

 private:
  bool ReadRaw(void* out, size_t size);
  uint16_t ReadU16();
  uint32_t ReadU32();
  std::string ReadUtf16Text();

  std::string_view bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Windows-1252 <-> UTF-8. encode returns false when a character has no Windows-1252 byte.
bool EncodeWindows1252(std::string_view utf8, std::string& out);
std::string DecodeWindows1252(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);
// The text of stored 8-bit bytes by the rule above, and the stored form of a text; false (with the
// UTF-8 bytes in `stored`) when no 8-bit form reads back unchanged.
std::string DecodeStoredText(std::string_view stored);
bool EncodeStoredText(std::string_view text, std::string& stored);

}  // namespace vantri::project

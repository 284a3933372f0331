#pragma once
// Little-endian binary archive of the project file (.bun): 32-bit ints and bools, IEEE-754
// doubles and length-prefixed texts, as written by the original Windows program.
//
// Text layout: length prefix, then the bytes without terminator. The prefix is one byte when
// the length is below 255; otherwise 0xFF followed by a 16-bit length when the length is below
// 0xFFFE; otherwise 0xFF, 0xFFFF and a 32-bit length. 0xFF 0xFFFE marks a UTF-16LE text (written
// by Unicode builds) whose own prefix follows; it is accepted on reading and never written.
//
// Encoding: texts are stored in the Windows-1252 code page. A text holding characters that the
// code page cannot represent is stored as UTF-8 so that no character is lost; on reading, bytes
// that form valid UTF-8 are taken as UTF-8, anything else is decoded as Windows-1252.

#include <cstdint>
#include <string>
#include <string_view>

namespace vantri {

class ArchiveWriter {
 public:
  void writeInt(int32_t value);
  void writeDouble(double value);
  void writeByte(uint8_t value);
  void writeText(std::string_view utf8);
  void writeRaw(const void* data, size_t size);
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// Reads from a byte buffer; every read is bounded by the bytes left. After the first failed read
// the reader stays failed and every further read yields zero values.
class ArchiveReader {
 public:
  // The reader keeps a view: the bytes must outlive it.
  explicit ArchiveReader(std::string_view bytes) : bytes_(bytes) {}
  explicit ArchiveReader(std::string&&) = delete;

  int32_t readInt();
  double readDouble();
  uint8_t readByte();
  std::string readText();

  bool ok() const { return ok_; }
  void fail() { ok_ = false; }
  // The unread bytes, for nested readers; skip() consumes them (bounded by the bytes left).
  std::string_view remaining() const { return bytes_.substr(pos_); }
  void skip(size_t count);
  size_t bytesLeft() const { return bytes_.size() - pos_; }

 private:
  bool readRaw(void* out, size_t size);
  uint16_t readU16();
  uint32_t readU32();
  std::string readUtf16Text();

  std::string_view bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Windows-1252 <-> UTF-8. encode returns false when a character has no Windows-1252 byte.
bool encodeWindows1252(std::string_view utf8, std::string& out);
std::string decodeWindows1252(std::string_view bytes);
bool isValidUtf8(std::string_view bytes);

}  // namespace vantri

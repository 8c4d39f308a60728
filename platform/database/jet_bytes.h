#pragma once
// Little helpers shared by the database reader, writer and checker: byte
// access, the masked header page and the UCS-2 text of the files.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace pw::db {

inline constexpr std::size_t kPageSize = 4096;

inline std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get24(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
}
inline std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Put16(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put24(unsigned char* p, std::uint32_t v) {
  Put16(p, v);
  p[2] = static_cast<unsigned char>(v >> 16);
}
inline void Put32(unsigned char* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// Format of a file as its header page tells it.
enum class JetVersion { Jet3, Jet4, Ace };

struct HeaderInfo {
  JetVersion version = JetVersion::Jet4;
  std::uint16_t codePage = 0;
  std::uint16_t sortOrder = 0;
  std::uint32_t databaseKey = 0;  // non-zero: pages are encrypted
  bool hasPassword = false;
  double created = 0;  // OLE date
};

// Bytes 0x18.. of the header page are XORed with this fixed key stream
// (RC4 of the key C7 DA 39 6B); 128 bytes for Jet 4 and ACE, 126 for Jet 3.
const std::array<unsigned char, 128>& HeaderMask();

// Reads the first page. Answers an empty string when it is a database
// header, else the reason (in the window's language) why it is not.
std::string ParseHeader(const unsigned char* page, std::size_t size, HeaderInfo& info);

// UTF-8 <-> UCS-2LE (surrogate pairs for characters beyond the BMP).
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

// A stored Jet 4 text value (plain UCS-2LE or the FF FE compressed form).
std::u16string DecodeJetText(const unsigned char* p, std::size_t n);

// OLE date (days since 1899-12-30) as "yyyy-mm-dd", with " hh:mm:ss" when
// the time is not midnight. Years 100 to 9999; others give "".
std::string FormatOleDate(double value);

// Shortest text that reads back as the same number, without exponent for
// everyday magnitudes.
std::string FormatDouble(double value);
std::string FormatSingle(float value);

// Currency: a 64-bit count of ten-thousandths, without trailing zeros.
std::string FormatCurrency(std::int64_t value);

// Bytes as "0x" and two upper-case hex digits each.
std::string HexText(std::string_view bytes);

// Table, field and column names compare as the engine compares them:
// ignoring the case of ASCII letters.
bool SameName(std::string_view a, std::string_view b);

}  // namespace pw::db

#include "platform/database/jet_bytes.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/translate.h"

namespace pw::db {

const std::array<unsigned char, 128>& HeaderMask() {
  static const std::array<unsigned char, 128> mask = [] {
    const unsigned char key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    std::array<unsigned char, 256> s{};
    for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
    int j = 0;
    for (int i = 0; i < 256; ++i) {
      j = (j + s[i] + key[i % 4]) & 255;
      std::swap(s[i], s[j]);
    }
    std::array<unsigned char, 128> out{};
    int a = 0;
    j = 0;
    for (auto& byte : out) {
      a = (a + 1) & 255;
      j = (j + s[a]) & 255;
      std::swap(s[a], s[j]);
      byte = s[(s[a] + s[j]) & 255];
    }
    return out;
  }();
  return mask;
}

std::string ParseHeader(const unsigned char* page, std::size_t size, HeaderInfo& info) {
  if (size < 0x100) return Translate("database", "不是 Access 数据库文件（文件太短）");
  static const char kJet[] = "Standard Jet DB";
  static const char kAce[] = "Standard ACE DB";
  if (page[0] != 0 || page[1] != 1 || page[2] != 0 || page[3] != 0 ||
      (std::memcmp(page + 4, kJet, 15) != 0 && std::memcmp(page + 4, kAce, 15) != 0))
    return Translate("database", "不是 Access 数据库文件");
  unsigned char p[0x100];
  std::memcpy(p, page, sizeof p);
  const unsigned v = page[0x14];
  const std::size_t masked = v == 0 ? 126 : 128;
  for (std::size_t i = 0; i < masked; ++i) p[0x18 + i] ^= HeaderMask()[i];
  if (v == 0) {
    info.version = JetVersion::Jet3;
    info.sortOrder = Get16(p + 0x3A);
  } else {
    info.version = v == 1 ? JetVersion::Jet4 : JetVersion::Ace;
    info.sortOrder = Get16(p + 0x6E);
  }
  info.codePage = Get16(p + 0x3C);
  info.databaseKey = Get32(p + 0x3E);
  double created = 0;
  std::memcpy(&created, p + 0x72, 8);
  info.created = v == 0 ? 0 : created;
  info.hasPassword = false;
  if (v == 0) {
    for (int i = 0; i < 20; ++i) info.hasPassword |= p[0x42 + i] != 0;
  } else {
    // The password field is XORed with the whole days of the creation date.
    unsigned char key[4];
    const double whole = std::isfinite(created) ? std::trunc(created) : 0;
    Put32(key, static_cast<std::uint32_t>(
                   static_cast<std::int32_t>(whole > 2e9 || whole < -2e9 ? 0 : whole)));
    for (int i = 0; i < 40; ++i) info.hasPassword |= (p[0x42 + i] ^ key[i % 4]) != 0;
  }
  return {};
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    std::size_t n = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 6 && i + 1 < s.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
      n = 2;
    } else if ((c >> 4) == 14 && i + 2 < s.size()) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
      n = 3;
    } else if ((c >> 3) == 30 && i + 3 < s.size()) {
      cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
           ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
      n = 4;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string DecodeJetText(const unsigned char* p, std::size_t n) {
  std::u16string out;
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool compressed = true;
    for (std::size_t i = 2; i < n;) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        out.push_back(p[i]);
        ++i;
      } else if (i + 1 < n) {
        out.push_back(static_cast<char16_t>(Get16(p + i)));
        i += 2;
      } else {
        break;
      }
    }
    return out;
  }
  out.reserve(n / 2);
  for (std::size_t i = 0; i + 1 < n; i += 2) out.push_back(static_cast<char16_t>(Get16(p + i)));
  return out;
}

namespace {

// Civil date of a count of days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

}  // namespace

std::string FormatOleDate(double value) {
  if (!std::isfinite(value) || value < -700000 || value > 3000000) return FormatDouble(value);
  long long day = static_cast<long long>(std::trunc(value));
  long long secs = std::llround(std::fabs(value - static_cast<double>(day)) * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    ++day;
  }
  long long y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(day - 25569, y, m, d);
  if (y < 100 || y > 9999) return FormatDouble(value);
  char buf[40];
  if (secs == 0) {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", y, m, d);
  } else {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, secs / 3600,
                  secs / 60 % 60, secs % 60);
  }
  return buf;
}

namespace {

template <typename T>
std::string ShortestText(T value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  char buf[400];
  const T mag = std::fabs(value);
  std::to_chars_result r;
  if (mag == 0 || (mag >= static_cast<T>(1e-6) && mag < static_cast<T>(1e15)))
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  else
    r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string FormatDouble(double value) {
  return ShortestText(value);
}
std::string FormatSingle(float value) {
  return ShortestText(value);
}

std::string FormatCurrency(std::int64_t value) {
  const bool negative = value < 0;
  const unsigned long long mag = negative ? 0ULL - static_cast<unsigned long long>(value)
                                          : static_cast<unsigned long long>(value);
  std::string text = std::to_string(mag / 10000);
  unsigned frac = static_cast<unsigned>(mag % 10000);
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, ".%04u", frac);
    std::string f = buf;
    while (f.back() == '0') f.pop_back();
    text += f;
  }
  return negative ? "-" + text : text;
}

std::string HexText(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out = "0x";
  out.reserve(2 + 2 * bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
  }
  return true;
}

}  // namespace pw::db

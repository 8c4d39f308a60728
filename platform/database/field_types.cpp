#include "platform/database/field_types.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/database/jet_bytes.h"
#include "platform/database/jet_layout.h"
#include "platform/translate.h"

namespace pw::db {

namespace {

using Kind = FieldType::Kind;

constexpr int kMaxDecimalDigits = 28;

// Room for a decimal's 96 bits and more.
__extension__ typedef unsigned __int128 Wide;

bool IsInteger(Kind k) {
  return k == Kind::Byte || k == Kind::Integer || k == Kind::Long;
}
bool IsNumber(Kind k) {
  return IsInteger(k) || k == Kind::Currency || k == Kind::Single || k == Kind::Double ||
         k == Kind::Decimal;
}
int IntegerRank(Kind k) {
  return k == Kind::Byte ? 0 : k == Kind::Integer ? 1 : 2;
}
// Digits before the point an integer type needs.
int IntegerDigits(Kind k) {
  return k == Kind::Byte ? 3 : k == Kind::Integer ? 5 : 10;
}

// How many characters the values of a type take as text at most.
int TextWidth(const FieldType& t) {
  switch (t.kind) {
    case Kind::Text:
      return t.chars;
    case Kind::YesNo:
      return 5;  // False
    case Kind::Byte:
      return 3;
    case Kind::Integer:
      return 6;
    case Kind::Long:
      return 11;
    case Kind::Currency:
      return 21;
    case Kind::Single:
      return 15;
    case Kind::Double:
      return 24;
    case Kind::DateTime:
      return 19;
    case Kind::Guid:
      return 38;
    case Kind::Decimal:
      return t.precision + 2;
    case Kind::Memo:
    case Kind::Ole:
      break;
  }
  return 255;
}

std::string Trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

template <typename T>
bool ParseWhole(const std::string& s, T& out) {
  if (s.empty()) return false;
  const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
  const char* end = s.data() + s.size();
  const auto r = std::from_chars(begin, end, out);
  return r.ec == std::errc() && r.ptr == end;
}

template <typename T>
std::string Bytes(T v) {
  std::string out(sizeof v, '\0');
  std::memcpy(out.data(), &v, sizeof v);  // the file is little-endian, as is this machine
  return out;
}

// An integer given in digits, or as a floating-point number without a fraction.
std::optional<long long> WholeNumber(const std::string& s) {
  long long v = 0;
  if (ParseWhole(s, v)) return v;
  double d = 0;
  if (!ParseWhole(s, d) || !std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 9.2e18)
    return std::nullopt;
  return static_cast<long long>(d);
}

// Digits of a decimal text, sign apart, as an integer of `scale` places
// after the point; nullopt for another form, more places than `scale` that
// are not zeros, or more than `maxDigits` digits in all.
std::optional<Wide> ScaledDigits(const std::string& s, int scale, int maxDigits, bool& negative) {
  std::size_t i = 0;
  negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  std::string whole, frac;
  bool point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      (point ? frac : whole).push_back(c);
    } else {
      return std::nullopt;
    }
  }
  if (whole.empty() && frac.empty()) return std::nullopt;
  while (static_cast<int>(frac.size()) > scale) {
    if (frac.back() != '0') return std::nullopt;
    frac.pop_back();
  }
  frac.append(static_cast<std::size_t>(scale) - frac.size(), '0');
  std::string digits = whole + frac;
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  if (static_cast<int>(digits.size()) > maxDigits) return std::nullopt;
  Wide v = 0;
  for (char c : digits) v = v * 10 + static_cast<unsigned>(c - '0');
  return v;
}

std::optional<double> OleDate(const std::string& s) {
  int y = 0;
  unsigned mo = 0, d = 0, h = 0, mi = 0, se = 0;
  char sep1 = 0, sep2 = 0;
  int used = 0;
  if (std::sscanf(s.c_str(), "%d%c%u%c%u%n", &y, &sep1, &mo, &sep2, &d, &used) == 5 &&
      sep1 == sep2 && (sep1 == '-' || sep1 == '/')) {
    const std::string rest = s.substr(static_cast<std::size_t>(used));
    int more = 0;
    if (!rest.empty() && !(std::sscanf(rest.c_str(), " %u:%u:%u%n", &h, &mi, &se, &more) == 3 &&
                           static_cast<std::size_t>(more) == rest.size()))
      return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{mo},
                                          std::chrono::day{d}};
    if (!ymd.ok() || y < 100 || y > 9999 || h > 23 || mi > 59 || se > 59) return std::nullopt;
    const long long days =
        std::chrono::sys_days(ymd).time_since_epoch().count() + 25569;  // from 1899-12-30
    const double time = (h * 3600.0 + mi * 60.0 + se) / 86400.0;
    // Before the base day the whole part counts back and the time forward.
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
  }
  double v = 0;
  if (ParseWhole(s, v) && std::isfinite(v)) return v;
  return std::nullopt;
}

std::optional<std::string> GuidBytes(const std::string& text) {
  std::string s = text;
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') s = s.substr(1, s.size() - 2);
  std::string hex;
  for (char c : s)
    if (c != '-') hex.push_back(c);
  if (hex.size() != 32) return std::nullopt;
  std::string raw;
  for (std::size_t i = 0; i < 32; i += 2) {
    unsigned v = 0;
    const auto r = std::from_chars(hex.data() + i, hex.data() + i + 2, v, 16);
    if (r.ec != std::errc() || r.ptr != hex.data() + i + 2) return std::nullopt;
    raw.push_back(static_cast<char>(v));
  }
  // The first three groups are stored least significant byte first.
  std::reverse(raw.begin(), raw.begin() + 4);
  std::reverse(raw.begin() + 4, raw.begin() + 6);
  std::reverse(raw.begin() + 6, raw.begin() + 8);
  return raw;
}

}  // namespace

std::uint8_t TypeCode(const FieldType& t) {
  switch (t.kind) {
    case Kind::Text:
      return kTypeText;
    case Kind::Memo:
      return kTypeMemo;
    case Kind::Ole:
      return kTypeOle;
    case Kind::YesNo:
      return kTypeBool;
    case Kind::Byte:
      return kTypeByte;
    case Kind::Integer:
      return kTypeInt;
    case Kind::Long:
      return kTypeLong;
    case Kind::Currency:
      return kTypeCurrency;
    case Kind::Single:
      return kTypeSingle;
    case Kind::Double:
      return kTypeDouble;
    case Kind::DateTime:
      return kTypeDate;
    case Kind::Guid:
      return kTypeGuid;
    case Kind::Decimal:
      return kTypeNumeric;
  }
  return kTypeText;
}

std::size_t FixedBytes(const FieldType& t) {
  switch (t.kind) {
    case Kind::YesNo:
    case Kind::Byte:
      return 1;
    case Kind::Integer:
      return 2;
    case Kind::Long:
    case Kind::Single:
      return 4;
    case Kind::Currency:
    case Kind::Double:
    case Kind::DateTime:
      return 8;
    case Kind::Guid:
      return 16;
    case Kind::Decimal:
      return 17;
    case Kind::Text:
    case Kind::Memo:
    case Kind::Ole:
      break;
  }
  return 0;
}

bool IsFixed(const FieldType& t) {
  return FixedBytes(t) != 0;
}

FieldType TypeFromCode(int code, int sizeBytes, int precision, int scale, bool jet3) {
  switch (code) {
    case kTypeBool:
      return FieldType::Of(Kind::YesNo);
    case kTypeByte:
      return FieldType::Of(Kind::Byte);
    case kTypeInt:
      return FieldType::Of(Kind::Integer);
    case kTypeLong:
      return FieldType::Of(Kind::Long);
    case kTypeCurrency:
      return FieldType::Of(Kind::Currency);
    case kTypeSingle:
      return FieldType::Of(Kind::Single);
    case kTypeDouble:
      return FieldType::Of(Kind::Double);
    case kTypeDate:
      return FieldType::Of(Kind::DateTime);
    case kTypeGuid:
      return FieldType::Of(Kind::Guid);
    case kTypeNumeric:
      return FieldType::DecimalOf(
          std::clamp(precision, 1, kMaxDecimalDigits),
          std::clamp(scale, 0, std::clamp(precision, 1, kMaxDecimalDigits)));
    case kTypeText:
      return FieldType::Text(std::clamp(jet3 ? sizeBytes : sizeBytes / 2, 1, 255));
    case kTypeMemo:
      return FieldType::Of(Kind::Memo);
    case kTypeOle:
    case kTypeBinary:
      return FieldType::Of(Kind::Ole);
    default:
      return FieldType::Text();
  }
}

FieldType WiderType(const FieldType& a, const FieldType& b) {
  if (a.kind == b.kind && a.kind != Kind::Text && a.kind != Kind::Decimal) return a;
  if (a.kind == Kind::Memo || b.kind == Kind::Memo || a.kind == Kind::Ole || b.kind == Kind::Ole)
    return FieldType::Of(Kind::Memo);
  if (IsNumber(a.kind) && IsNumber(b.kind)) {
    if (IsInteger(a.kind) && IsInteger(b.kind))
      return IntegerRank(a.kind) >= IntegerRank(b.kind) ? a : b;
    if ((IsInteger(a.kind) || a.kind == Kind::Currency) &&
        (IsInteger(b.kind) || b.kind == Kind::Currency))
      return FieldType::Of(Kind::Currency);
    const bool decA = a.kind == Kind::Decimal, decB = b.kind == Kind::Decimal;
    if ((decA || IsInteger(a.kind)) && (decB || IsInteger(b.kind))) {
      const int scale = std::max(decA ? a.scale : 0, decB ? b.scale : 0);
      const int whole = std::max(decA ? a.precision - a.scale : IntegerDigits(a.kind),
                                 decB ? b.precision - b.scale : IntegerDigits(b.kind));
      if (scale + whole <= kMaxDecimalDigits) return FieldType::DecimalOf(scale + whole, scale);
    }
    return FieldType::Of(Kind::Double);
  }
  return FieldType::Text(std::min(255, std::max(TextWidth(a), TextWidth(b))));
}

std::string TypeName(const FieldType& t) {
  switch (t.kind) {
    case Kind::Text:
      return Arg(Translate("database", "文本(%1)"), {t.chars});
    case Kind::Memo:
      return Translate("database", "备注");
    case Kind::Ole:
      return Translate("database", "OLE 对象");
    case Kind::YesNo:
      return Translate("database", "是/否");
    case Kind::Byte:
      return Translate("database", "字节");
    case Kind::Integer:
      return Translate("database", "整型");
    case Kind::Long:
      return Translate("database", "长整型");
    case Kind::Currency:
      return Translate("database", "货币");
    case Kind::Single:
      return Translate("database", "单精度型");
    case Kind::Double:
      return Translate("database", "双精度型");
    case Kind::DateTime:
      return Translate("database", "日期/时间");
    case Kind::Guid:
      return Translate("database", "同步复制 ID");
    case Kind::Decimal:
      return Arg(Translate("database", "小数(%1,%2)"), {t.precision, t.scale});
  }
  return {};
}

std::optional<std::string> EncodeFixedValue(const FieldType& type, const std::string& text) {
  const std::string s = Trimmed(text);
  switch (type.kind) {
    case Kind::YesNo: {
      std::string l = s;
      for (char& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (l == "true" || l == "yes" || l == "-1" || l == "1" || l == "on") return std::string("\1");
      if (l == "false" || l == "no" || l == "0" || l == "off" || l.empty())
        return std::string(1, '\0');
      return std::nullopt;
    }
    case Kind::Byte:
    case Kind::Integer:
    case Kind::Long: {
      const std::optional<long long> v = WholeNumber(s);
      if (!v) return std::nullopt;
      if (type.kind == Kind::Byte) {
        if (*v < 0 || *v > 255) return std::nullopt;
        return std::string(1, static_cast<char>(*v));
      }
      if (type.kind == Kind::Integer) {
        if (*v < std::numeric_limits<std::int16_t>::min() ||
            *v > std::numeric_limits<std::int16_t>::max())
          return std::nullopt;
        return Bytes(static_cast<std::int16_t>(*v));
      }
      if (*v < std::numeric_limits<std::int32_t>::min() ||
          *v > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
      return Bytes(static_cast<std::int32_t>(*v));
    }
    case Kind::Currency: {
      bool negative = false;
      const auto v = ScaledDigits(s, 4, 19, negative);
      const Wide limit =
          static_cast<Wide>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
      if (!v || *v > limit) return std::nullopt;
      const auto mag = static_cast<std::uint64_t>(*v);
      return Bytes(static_cast<std::int64_t>(negative ? 0 - mag : mag));
    }
    case Kind::Single: {
      float f = 0;
      if (!ParseWhole(s, f)) return std::nullopt;
      return Bytes(f);
    }
    case Kind::Double: {
      double d = 0;
      if (!ParseWhole(s, d)) return std::nullopt;
      return Bytes(d);
    }
    case Kind::DateTime: {
      const std::optional<double> d = OleDate(s);
      if (!d) return std::nullopt;
      return Bytes(*d);
    }
    case Kind::Guid:
      return GuidBytes(s);
    case Kind::Decimal: {
      bool negative = false;
      const auto v = ScaledDigits(s, type.scale, type.precision, negative);
      if (!v) return std::nullopt;
      // Sign, then four 32-bit words, the most significant first, each
      // least significant byte first.
      std::string out(17, '\0');
      auto* p = reinterpret_cast<unsigned char*>(out.data());
      p[0] = negative && *v != 0 ? 0x80 : 0x00;
      for (int w = 0; w < 4; ++w)
        Put32(p + 1 + 4 * w, static_cast<std::uint32_t>(*v >> (32 * (3 - w))));
      return out;
    }
    case Kind::Text:
    case Kind::Memo:
    case Kind::Ole:
      break;
  }
  return std::nullopt;
}

}  // namespace pw::db

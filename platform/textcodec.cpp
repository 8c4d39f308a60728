#include "platform/textcodec.h"

#include <iconv.h>

#include <cerrno>

namespace pw {

bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = 0;
    char32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return false;
    i += len;
  }
  return true;
}

bool GbkToUtf8(std::string_view bytes, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(bytes.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* o = result.data();
  std::size_t outLeft = result.size();
  bool ok = true;
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) {
        const std::size_t used = static_cast<std::size_t>(o - result.data());
        result.resize(result.size() * 2);
        o = result.data() + used;
        outLeft = result.size() - used;
        continue;
      }
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  if (!ok) return false;
  result.resize(static_cast<std::size_t>(o - result.data()));
  out = std::move(result);
  return true;
}

std::string DisplayText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string gbk;
  if (GbkToUtf8(bytes, gbk)) return gbk;
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Copy the longest valid UTF-8 sequence starting here, else one U+FFFD.
    std::size_t len = 1;
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0xF0)
      len = 4;
    else if (c >= 0xE0)
      len = 3;
    else if (c >= 0xC0)
      len = 2;
    if (i + len <= bytes.size() && IsValidUtf8(bytes.substr(i, len))) {
      out.append(bytes.substr(i, len));
      i += len;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

}  // namespace pw

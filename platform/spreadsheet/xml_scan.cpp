#include "platform/spreadsheet/xml_scan.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace pw::xl {
namespace {

constexpr const char* kInvalid = "not well-formed (invalid token)";

// Character classes of the bytes that make up tags.
constexpr std::uint8_t kSpaceBit = 1, kStartBit = 2, kNameBit = 4;
struct ClassTable {
  std::array<std::uint8_t, 256> bits{};
  constexpr ClassTable() {
    for (int c = 0; c < 256; ++c) {
      const bool start =
          (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
      const bool name = start || (c >= '0' && c <= '9') || c == '-' || c == '.';
      bits[c] = static_cast<std::uint8_t>((start ? kStartBit : 0) | (name ? kNameBit : 0));
    }
    for (const int c : {' ', '\t', '\n', '\r'}) bits[c] = kSpaceBit;
  }
};
constexpr ClassTable kClass;

bool Is(char c, std::uint8_t bit) {
  return (kClass.bits[static_cast<unsigned char>(c)] & bit) != 0;
}
bool IsSpace(char c) {
  return Is(c, kSpaceBit);
}
bool NameStart(char c) {
  return Is(c, kStartBit);
}
bool NameChar(char c) {
  return Is(c, kNameBit);
}

// How character data is read: text between tags, an attribute's value, or
// a CDATA section.
enum class Mode { Text, Value, Raw };

// Bytes copied as they are; every other byte needs a look.
struct PlainTable {
  std::array<bool, 256> text{}, value{}, raw{};
  constexpr PlainTable() {
    for (int c = 0x20; c < 0x80; ++c) text[c] = value[c] = raw[c] = true;
    text['&'] = text[']'] = text['<'] = false;
    value['&'] = value['<'] = false;
    raw['<'] = true;
  }
};
constexpr PlainTable kPlain;

bool IsXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

char* PutUtf8(char* w, std::uint32_t cp) {
  if (cp < 0x80) {
    *w++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *w++ = static_cast<char>(0xC0 | (cp >> 6));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *w++ = static_cast<char>(0xE0 | (cp >> 12));
    *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *w++ = static_cast<char>(0xF0 | (cp >> 18));
    *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return w;
}

// The length of the UTF-8 sequence at `p` when it encodes a character XML
// allows; 0 when it does not, -1 when it runs past `e`.
int Utf8Length(const char* p, const char* e) {
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  const int n = s[0] < 0xC2 ? 0 : s[0] < 0xE0 ? 2 : s[0] < 0xF0 ? 3 : s[0] < 0xF5 ? 4 : 0;
  if (n == 0) return 0;
  std::uint32_t cp = s[0] & (0x7F >> n);
  for (int i = 1; i < n; ++i) {
    if (p + i >= e) return -1;
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || !IsXmlChar(cp)) return 0;
  return n;
}

// Names take any character beyond ASCII, but only in well-formed UTF-8.
bool GoodName(const char* s, const char* e) {
  for (; s < e; ++s)
    if (static_cast<unsigned char>(*s) >= 0x80) {
      const int n = Utf8Length(s, e);
      if (n <= 0) return false;
      s += n - 1;
    }
  return true;
}

// Resolves the reference starting at `p` ('&'), writing its character at
// `w`. Answers the bytes it took, 0 when it may run past `e`, -1 when it is
// not a reference XML allows (`what` says why).
int Reference(const char* p, const char* e, char*& w, const char*& what) {
  constexpr std::ptrdiff_t kLongest = 12;  // "&#x0010FFFF;" and the like
  const std::ptrdiff_t span = std::min(e - p, kLongest);
  const auto* semi =
      static_cast<const char*>(std::memchr(p + 1, ';', static_cast<std::size_t>(span - 1)));
  if (semi == nullptr) {
    if (e - p < kLongest) return 0;
    what = kInvalid;
    return -1;
  }
  const std::string_view name(p + 1, static_cast<std::size_t>(semi - p - 1));
  const int taken = static_cast<int>(semi - p + 1);
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& [n, c] : kNamed)
    if (name == n) {
      *w++ = c;
      return taken;
    }
  if (name.size() < 2 || name[0] != '#') {
    bool isName = !name.empty() && NameStart(name[0]);
    for (const char c : name) isName = isName && NameChar(c);
    what = isName ? "undefined entity" : kInvalid;
    return -1;
  }
  const bool hex = name[1] == 'x';
  std::uint32_t cp = 0;
  bool ok = name.size() > (hex ? 2u : 1u);
  for (std::size_t i = hex ? 2 : 1; ok && i < name.size(); ++i) {
    const char c = name[i];
    int digit = -1;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    ok = digit >= 0 && cp <= 0x10FFFF;
    cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (!ok || !IsXmlChar(cp)) {
    what = ok ? "reference to invalid character number" : kInvalid;
    return -1;
  }
  w = PutUtf8(w, cp);
  return taken;
}

// Checks character data in [r, e) and resolves it in place, writing from
// `w` on. Answers where it stopped: `e`, or earlier when what is left may
// continue past `e` (only when not `final`); null when the data is not
// allowed (`what` says why).
char* Decode(char* r, char* e, char*& w, bool final, Mode mode, const char*& what) {
  const std::array<bool, 256>& plain = mode == Mode::Text    ? kPlain.text
                                       : mode == Mode::Value ? kPlain.value
                                                             : kPlain.raw;
  while (r < e) {
    // A run of plain bytes moves only once something before it got shorter.
    char* const run = r;
    while (r < e && plain[static_cast<unsigned char>(*r)]) ++r;
    if (w != run) std::memmove(w, run, static_cast<std::size_t>(r - run));
    w += r - run;
    if (r == e) break;
    const char c = *r;
    if (static_cast<unsigned char>(c) >= 0x80) {
      const int n = Utf8Length(r, e);
      if (n < 0 && !final) return r;
      if (n <= 0) {
        what = kInvalid;
        return nullptr;
      }
      for (int i = 0; i < n; ++i) *w++ = *r++;
    } else if (c == '\n' || c == '\t') {
      *w++ = mode == Mode::Value ? ' ' : c;
      ++r;
    } else if (c == '\r') {  // a line break of either kind reads as one "\n"
      if (r + 1 == e && !final) return r;
      ++r;
      if (r < e && *r == '\n') continue;
      *w++ = mode == Mode::Value ? ' ' : '\n';
    } else if (c == '&') {
      const int n = Reference(r, e, w, what);
      if (n == 0 && !final) return r;
      if (n <= 0) {
        if (n == 0) what = kInvalid;
        return nullptr;
      }
      r += n;
    } else if (c == ']') {  // "]]>" ends a CDATA section and may not stand in text
      if (e - r < 3 && !final) return r;
      if (e - r >= 3 && r[1] == ']' && r[2] == '>') {
        what = kInvalid;
        return nullptr;
      }
      *w++ = *r++;
    } else {
      what = kInvalid;
      return nullptr;
    }
  }
  return r;
}

// The first `needle` in [p, e), or null.
char* Find(char* p, char* e, std::string_view needle) {
  while (e - p >= static_cast<std::ptrdiff_t>(needle.size())) {
    auto* q = static_cast<char*>(std::memchr(p, needle[0], static_cast<std::size_t>(e - p)));
    if (q == nullptr || e - q < static_cast<std::ptrdiff_t>(needle.size())) return nullptr;
    if (std::memcmp(q, needle.data(), needle.size()) == 0) return q;
    p = q + 1;
  }
  return nullptr;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  return true;
}

}  // namespace

char* XmlScanner::Buffer(std::size_t n) {
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buf_.size() < end_ + n) buf_.resize(end_ + n);
  return buf_.data() + end_;
}

XmlScanner::Status XmlScanner::Parsed(std::size_t n, bool last) {
  for (const char *p = buf_.data() + end_, *e = p + n;
       (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(e - p)))) !=
       nullptr;
       ++p)
    ++linesFed_;
  end_ += n;
  if (failed_) return Status::Error;
  switch (Scan(last)) {
    case Step::Unsupported:
      return started_ ? Status::Error : Status::Unsupported;
    case Step::Fail:
      failed_ = true;
      return Status::Error;
    default:
      return Status::Ok;
  }
}

std::uint64_t XmlScanner::LinesBefore(const char* at) const {
  std::uint64_t after = 0;
  for (const char *p = at, *e = buf_.data() + end_;
       (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(e - p)))) !=
       nullptr;
       ++p)
    ++after;
  return linesFed_ - after;
}

XmlScanner::Step XmlScanner::Fail(const char* at, const char* what) {
  error_ = what;
  errorLine_ = LinesBefore(at) + 1;
  return Step::Fail;
}

XmlScanner::Step XmlScanner::Scan(bool last) {
  char* p = buf_.data() + begin_;
  char* const e = buf_.data() + end_;
  Step step = Step::Done;
  if (!prologDone_) step = Prolog(p, e, last);
  while (step == Step::Done && p < e) {
    if (*p != '<')
      step = Content(p, e, last);
    else if (e - p < 2)
      step = Step::More;
    else if (p[1] == '/')
      step = EndTag(p, e);
    else if (p[1] == '!' || p[1] == '?')
      step = Markup(p, e);
    else
      step = StartTag(p, e);
  }
  begin_ = static_cast<std::size_t>(p - buf_.data());
  if (step == Step::Fail || step == Step::Unsupported || !last) return step;
  if (p < e) return Fail(p, "unclosed token");
  if (!rootClosed_) return Fail(p, "no element found");
  return Step::Done;
}

// A byte-order mark, and the declaration that may name another encoding.
XmlScanner::Step XmlScanner::Prolog(char*& p, char* e, bool last) {
  if (e - p < 6 && !last) return Step::More;
  const auto at = [&](std::ptrdiff_t i) {
    return i < e - p ? static_cast<unsigned char>(p[i]) : 0x100;
  };
  if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) p += 3;
  // Other marks or a zero byte first: two-byte encodings.
  if (at(0) == 0xFE || at(0) == 0xFF || at(0) == 0 || at(1) == 0) return Step::Unsupported;
  if (e - p >= 6 && std::memcmp(p, "<?xml", 5) == 0 && IsSpace(p[5])) {
    char* end = Find(p, e, "?>");
    if (end == nullptr) return last ? Fail(p, "unclosed token") : Step::More;
    const std::string_view decl(p, static_cast<std::size_t>(end - p));
    const std::size_t key = decl.find("encoding");
    if (key != std::string_view::npos) {
      const std::size_t open = decl.find_first_of("\"'", key);
      const std::size_t close =
          open == std::string_view::npos ? open : decl.find(decl[open], open + 1);
      if (close == std::string_view::npos) return Step::Unsupported;
      if (!SameNoCase(decl.substr(open + 1, close - open - 1), "UTF-8")) return Step::Unsupported;
    }
    p = end + 2;
  }
  prologDone_ = true;
  return Step::Done;
}

XmlScanner::Step XmlScanner::StartTag(char*& p, char* e) {
  char* name = p + 1;
  if (!NameStart(*name)) return Fail(name, kInvalid);
  char* q = name;
  while (q < e && NameChar(*q)) ++q;
  char* const nameEnd = q;
  marks_.clear();
  bool empty = false;
  for (;;) {
    char* const gap = q;
    while (q < e && IsSpace(*q)) ++q;
    if (q == e) return Step::More;
    if (*q == '>') {
      ++q;
      break;
    }
    if (*q == '/') {
      if (q + 1 == e) return Step::More;
      if (q[1] != '>') return Fail(q, kInvalid);
      q += 2;
      empty = true;
      break;
    }
    if (gap == q || !NameStart(*q)) return Fail(q, kInvalid);
    char* const attr = q;
    while (q < e && NameChar(*q)) ++q;
    char* const attrEnd = q;
    while (q < e && IsSpace(*q)) ++q;
    if (q == e) return Step::More;
    if (*q != '=') return Fail(q, kInvalid);
    ++q;
    while (q < e && IsSpace(*q)) ++q;
    if (q == e) return Step::More;
    if (*q != '"' && *q != '\'') return Fail(q, kInvalid);
    char* const value = q + 1;
    auto* const valueEnd =
        static_cast<char*>(std::memchr(value, *q, static_cast<std::size_t>(e - value)));
    if (valueEnd == nullptr) return Step::More;
    const std::size_t k = marks_.size();
    marks_.resize(k + 4);
    marks_[k] = static_cast<std::size_t>(attr - p);
    marks_[k + 1] = static_cast<std::size_t>(attrEnd - p);
    marks_[k + 2] = static_cast<std::size_t>(value - p);
    marks_[k + 3] = static_cast<std::size_t>(valueEnd - p);
    q = valueEnd + 1;
  }
  if (rootClosed_) return Fail(p, "junk after document element");
  if (!GoodName(name, nameEnd)) return Fail(name, kInvalid);
  // The whole tag is here: its names and values become strings in place.
  attrs_.resize(marks_.size() / 2 + 1);
  for (std::size_t i = 0; i < marks_.size(); i += 4) {
    char* const attr = p + marks_[i];
    const std::size_t attrLength = marks_[i + 1] - marks_[i];
    if (!GoodName(attr, attr + attrLength)) return Fail(attr, kInvalid);
    for (std::size_t j = 0; j < i; j += 4)
      if (marks_[j + 1] - marks_[j] == attrLength &&
          std::memcmp(p + marks_[j], attr, attrLength) == 0)
        return Fail(attr, "duplicate attribute");
    char* w = p + marks_[i + 2];
    const char* what = kInvalid;
    if (Decode(w, p + marks_[i + 3], w, true, Mode::Value, what) == nullptr)
      return Fail(attr, what);
    *w = '\0';
    attrs_[i / 2] = attr;
    attrs_[i / 2 + 1] = p + marks_[i + 2];
  }
  for (std::size_t i = 0; i < marks_.size(); i += 4) p[marks_[i + 1]] = '\0';
  attrs_.back() = nullptr;
  const std::size_t nameLength = static_cast<std::size_t>(nameEnd - name);
  *nameEnd = '\0';
  p = q;
  started_ = true;
  const std::string_view tag(name, nameLength);
  events_.Start(tag, attrs_.data());
  if (empty) {
    events_.End(tag);
    rootClosed_ = openAt_.empty();
  } else {
    openAt_.push_back(open_.size());
    open_.append(name, nameLength);
  }
  return Step::Done;
}

XmlScanner::Step XmlScanner::EndTag(char*& p, char* e) {
  char* const name = p + 2;
  char* q = name;
  while (q < e && NameChar(*q)) ++q;
  char* const nameEnd = q;
  while (q < e && IsSpace(*q)) ++q;
  if (q == e) return Step::More;
  if (*q != '>' || nameEnd == name) return Fail(q, kInvalid);
  if (openAt_.empty()) return Fail(p, rootClosed_ ? "junk after document element" : kInvalid);
  const std::string_view open = std::string_view(open_).substr(openAt_.back());
  if (open != std::string_view(name, static_cast<std::size_t>(nameEnd - name)))
    return Fail(p, "mismatched tag");
  *nameEnd = '\0';
  p = q + 1;
  events_.End(std::string_view(name, static_cast<std::size_t>(nameEnd - name)));
  open_.resize(openAt_.back());
  openAt_.pop_back();
  rootClosed_ = openAt_.empty();
  return Step::Done;
}

// Comments, processing instructions, CDATA sections, a document type.
XmlScanner::Step XmlScanner::Markup(char*& p, char* e) {
  if (p[1] == '?') {
    char* end = Find(p + 2, e, "?>");
    if (end == nullptr) return Step::More;
    char* target = p + 2;
    char* q = target;
    while (q < end && NameChar(*q)) ++q;
    if (q == target || (q < end && !IsSpace(*q))) return Fail(p, kInvalid);
    if (SameNoCase(std::string_view(target, static_cast<std::size_t>(q - target)), "xml"))
      return Fail(p, "XML or text declaration not at start of entity");
    p = end + 2;
    return Step::Done;
  }
  constexpr std::string_view kComment = "<!--", kCdata = "<![CDATA[", kDoctype = "<!DOCTYPE";
  const std::string_view head(p, static_cast<std::size_t>(std::min<std::ptrdiff_t>(e - p, 9)));
  if (head.starts_with(kComment)) {
    char* dashes = Find(p + kComment.size(), e, "--");
    if (dashes == nullptr || e - dashes < 3) return Step::More;
    if (dashes[2] != '>') return Fail(dashes, kInvalid);
    p = dashes + 3;
    return Step::Done;
  }
  for (const std::string_view whole : {kComment, kCdata, kDoctype})
    if (head.size() < whole.size() && whole.starts_with(head)) return Step::More;
  if (head == kDoctype) return started_ ? Fail(p, kInvalid) : Step::Unsupported;
  if (head != kCdata || openAt_.empty()) return Fail(p, kInvalid);
  char* const text = p + kCdata.size();
  char* end = Find(text, e, "]]>");
  if (end == nullptr) return Step::More;
  char* w = text;
  const char* what = kInvalid;
  if (Decode(text, end, w, true, Mode::Raw, what) == nullptr) return Fail(text, what);
  p = end + 3;
  events_.Text(text, static_cast<std::size_t>(w - text));
  return Step::Done;
}

// Text up to the next tag; outside the root only white space.
XmlScanner::Step XmlScanner::Content(char*& p, char* e, bool last) {
  auto* lt = static_cast<char*>(std::memchr(p, '<', static_cast<std::size_t>(e - p)));
  char* const stop = lt != nullptr ? lt : e;
  char* w = p;
  const char* what = kInvalid;
  char* const r = Decode(p, stop, w, lt != nullptr || last, Mode::Text, what);
  if (r == nullptr) return Fail(p, what);
  if (openAt_.empty()) {
    for (const char* s = p; s < w; ++s)
      if (!IsSpace(*s)) return Fail(s, rootClosed_ ? "junk after document element" : kInvalid);
  } else if (w > p) {
    events_.Text(p, static_cast<std::size_t>(w - p));
  }
  p = r;
  return r < stop ? Step::More : Step::Done;
}

}  // namespace pw::xl

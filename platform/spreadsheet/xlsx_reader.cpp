#include "platform/spreadsheet/xlsx_reader.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iterator>
#include <new>
#include <type_traits>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/output_file.h"
#include "platform/run_errors.h"
#include "platform/spreadsheet/formula.h"
#include "platform/spreadsheet/xml_scan.h"
#include "platform/spreadsheet/zip_entry.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::xl {
namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& cause) {
  throw RunError(RunError::Kind::Failure, path,
                 Arg(Translate("workbook", "无法读取工作簿“%1”：%2"), {DisplayText(path), cause}));
}

// A name without its namespace prefix. Parts are parsed without expanding
// namespaces (the costliest work of the parser): elements and attributes
// are told apart by their local names alone.
std::string_view Local(std::string_view n) {
  const std::size_t colon = n.rfind(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

// Namespace declarations are no attributes.
bool IsDeclaration(const char* name) {
  return name[0] == 'x' && std::strncmp(name, "xmlns", 5) == 0 &&
         (name[5] == '\0' || name[5] == ':');
}

const char* Attr(const char** attrs, std::string_view local) {
  for (int i = 0; attrs[i] != nullptr; i += 2)
    if (Local(attrs[i]) == local && !IsDeclaration(attrs[i])) return attrs[i + 1];
  return nullptr;
}

template <class T>
bool ParseNumber(std::string_view s, T& out) {
  if constexpr (std::is_floating_point_v<T>) {
    // Whole numbers of up to 15 digits, the most common values, are exact as doubles.
    if (!s.empty() && s.size() <= 15 && s.front() != '0') {
      std::int64_t n = 0;
      std::size_t i = 0;
      for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) n = n * 10 + (s[i] - '0');
      if (i == s.size()) {
        out = static_cast<T>(n);
        return true;
      }
    }
  }
  while (!s.empty() && (s.front() == ' ' || s.front() == '+')) s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

// An attribute's value as a whole number; `fallback` when absent or not one.
long LongValue(const char* v, long fallback) {
  if (v != nullptr && v[0] >= '0' && v[0] <= '9') {  // the common case: a few digits
    long n = 0;
    int i = 0;
    for (; i < 9 && v[i] >= '0' && v[i] <= '9'; ++i) n = n * 10 + (v[i] - '0');
    if (v[i] == '\0') return n;
  }
  double d = 0;
  if (v == nullptr || !ParseNumber(std::string_view(v), d) || !std::isfinite(d)) return fallback;
  if (d < -1e9 || d > 1e9) return fallback;
  return static_cast<long>(d);
}

long AttrLong(const char** attrs, std::string_view local, long fallback) {
  return LongValue(Attr(attrs, local), fallback);
}

double AttrDouble(const char** attrs, std::string_view local, double fallback) {
  const char* v = Attr(attrs, local);
  double d = 0;
  if (v == nullptr || !ParseNumber(std::string_view(v), d) || !std::isfinite(d)) return fallback;
  return d;
}

bool AttrBool(const char** attrs, std::string_view local, bool fallback) {
  const char* v = Attr(attrs, local);
  if (v == nullptr) return fallback;
  return std::strcmp(v, "1") == 0 || std::strcmp(v, "true") == 0 || std::strcmp(v, "on") == 0;
}

// "_x000D_" escapes of the file format turned back into characters.
std::string Unescape(std::string s) {
  if (s.find("_x") == std::string::npos) return s;
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned v = 0;
    if (s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && s[i + 6] == '_' &&
        std::from_chars(s.data() + i + 2, s.data() + i + 6, v, 16).ptr == s.data() + i + 6) {
      if (v < 0x80) {
        out += static_cast<char>(v);
      } else if (v < 0x800) {
        out += static_cast<char>(0xC0 | (v >> 6));
        out += static_cast<char>(0x80 | (v & 0x3F));
      } else {
        out += static_cast<char>(0xE0 | (v >> 12));
        out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (v & 0x3F));
      }
      i += 6;
    } else {
      out += s[i];
    }
  }
  return out;
}

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void Start(std::string_view name, const char** attrs) = 0;
  virtual void End(std::string_view name) = 0;
  // Character data is collected only while `collect` is set.
  bool collect = false;
  std::string text;
  // A failure inside a callback stops the parser and is rethrown once the
  // parser and the part are released: exceptions do not cross expat.
  std::exception_ptr failure;
  XML_Parser parser = nullptr;
};

template <class F>
void Guarded(void* data, F&& f) {
  auto* h = static_cast<XmlHandler*>(data);
  if (h->failure) return;
  try {
    f(*h);
  } catch (...) {
    h->failure = std::current_exception();
    XML_StopParser(h->parser, XML_FALSE);
  }
}

class Package {
 public:
  Package(const std::string& path, const void* data, std::size_t size) : path_(path) {
    zip_error_t error;
    zip_error_init(&error);
    Open(zip_source_buffer_create(data, size, 0, &error), error);
  }
  // Reads the file `fd` names as it goes, never holding it whole; takes `fd`.
  Package(const std::string& path, int fd) : path_(path) {
    zip_error_t error;
    zip_error_init(&error);
    FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) ::close(fd);
    zip_source_t* src = nullptr;
    if (file != nullptr) {
      src = zip_source_filep_create(file, 0, -1, &error);
      if (src == nullptr) std::fclose(file);
    }
    Open(src, error);
  }

 private:
  void Open(zip_source_t* src, zip_error_t& error) {
    if (src != nullptr) {
      zip_ = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &error);
      if (zip_ == nullptr) {
        // A lenient second try: some writers leave small inconsistencies.
        zip_error_fini(&error);
        zip_error_init(&error);
        zip_ = zip_open_from_source(src, ZIP_RDONLY, &error);
      }
      if (zip_ == nullptr) zip_source_free(src);
    }
    const std::string cause = zip_error_strerror(&error);
    zip_error_fini(&error);
    if (zip_ == nullptr)
      Fail(path_, Arg(Translate("workbook", "文件已损坏，或不是 .xlsx 格式（%1）。"), {cause}));
  }

 public:
  ~Package() {
    if (zip_ != nullptr) zip_discard(zip_);
  }
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  bool Has(const std::string& part) const {
    return zip_name_locate(zip_, part.c_str(), ZIP_FL_NOCASE) >= 0;
  }

  // Streams one part through `handler`; answers false when the part is absent.
  // Parts go through the fast scanner; the few it is not made for (another
  // encoding, a document type) through expat.
  bool Parse(const std::string& part, XmlHandler& handler) const {
    const zip_int64_t index = zip_name_locate(zip_, part.c_str(), ZIP_FL_NOCASE);
    if (index < 0) return false;
    if (!Scan(part, static_cast<zip_uint64_t>(index), handler))
      ParseWithExpat(part, static_cast<zip_uint64_t>(index), handler);
    return true;
  }

 private:
  std::unique_ptr<ZipEntryReader> Open(const std::string& part, zip_uint64_t index) const {
    auto file = ZipEntryReader::Open(zip_, index);
    if (!file) {
      const int code = zip_error_code_zip(zip_get_error(zip_));
      if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_ENCRNOTSUPP || code == ZIP_ER_WRONGPASSWD)
        Fail(path_, Translate("workbook", "文件已加密，请先在电子表格程序中去掉密码。"));
      Fail(path_, "文件已损坏：无法打开其中的 " + part + "（" +
                      zip_error_strerror(zip_get_error(zip_)) + "）。");
    }
    return file;
  }

  // False, before anything reached `handler`, for a part the scanner leaves
  // to expat.
  bool Scan(const std::string& part, zip_uint64_t index, XmlHandler& handler) const {
    class Events final : public XmlEvents {
     public:
      explicit Events(XmlHandler& h) : h_(h) {}
      void Start(std::string_view name, const char** attrs) override {
        h_.Start(Local(name), attrs);
      }
      void End(std::string_view name) override { h_.End(Local(name)); }
      void Text(const char* s, std::size_t n) override {
        if (h_.collect) h_.text.append(s, n);
      }

     private:
      XmlHandler& h_;
    } events(handler);
    const auto file = Open(part, index);
    XmlScanner scanner(events);
    constexpr std::size_t kChunk = 1 << 16;
    for (;;) {
      const std::int64_t n = file->Read(scanner.Buffer(kChunk), kChunk);
      if (n < 0) Fail(path_, "文件已损坏：解压 " + part + " 失败（" + file->Error() + "）。");
      switch (scanner.Parsed(static_cast<std::size_t>(n), n == 0)) {
        case XmlScanner::Status::Unsupported:
          return false;
        case XmlScanner::Status::Error:
          Fail(path_, "文件已损坏：" + part + " 第 " + std::to_string(scanner.Line()) +
                          " 行 XML 错误（" + scanner.Error() + "）。");
        case XmlScanner::Status::Ok:
          break;
      }
      if (n == 0) return true;
    }
  }

  void ParseWithExpat(const std::string& part, zip_uint64_t index, XmlHandler& handler) const {
    const auto file = Open(part, index);
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (parser == nullptr) throw std::bad_alloc();
    handler.parser = parser;
    handler.failure = nullptr;
    XML_SetUserData(parser, &handler);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* name, const XML_Char** attrs) {
          Guarded(data, [&](XmlHandler& h) { h.Start(Local(name), attrs); });
        },
        [](void* data, const XML_Char* name) {
          Guarded(data, [&](XmlHandler& h) { h.End(Local(name)); });
        });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* s, int len) {
      Guarded(data, [&](XmlHandler& h) {
        if (h.collect) h.text.append(s, static_cast<std::size_t>(len));
      });
    });
    // The entry is inflated straight into the parser's own buffer.
    constexpr int kChunk = 1 << 16;
    std::string failure;
    for (;;) {
      void* buffer = XML_GetBuffer(parser, kChunk);
      if (buffer == nullptr) {
        XML_ParserFree(parser);
        throw std::bad_alloc();
      }
      const std::int64_t n = file->Read(static_cast<char*>(buffer), kChunk);
      if (n < 0) {
        failure = std::string("解压 ") + part + " 失败（" + file->Error() + "）";
        break;
      }
      if (XML_ParseBuffer(parser, static_cast<int>(n), n == 0) == XML_STATUS_ERROR) {
        if (handler.failure) break;
        failure = part + " 第 " + std::to_string(XML_GetCurrentLineNumber(parser)) +
                  " 行 XML 错误（" + XML_ErrorString(XML_GetErrorCode(parser)) + "）";
        break;
      }
      if (n == 0) break;
    }
    XML_ParserFree(parser);
    handler.parser = nullptr;
    if (handler.failure) std::rethrow_exception(handler.failure);
    if (!failure.empty()) Fail(path_, "文件已损坏：" + failure + "。");
  }

  std::string path_;
  zip_t* zip_ = nullptr;
};

// Folder of a part ("xl/workbook.xml" -> "xl/").
std::string Folder(const std::string& part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::string RelsOf(const std::string& part) {
  return Folder(part) + "_rels/" + part.substr(Folder(part).size()) + ".rels";
}

// A relationship target, relative to its source part's folder or absolute.
std::string ResolveTarget(const std::string& base, std::string target) {
  if (const std::size_t hash = target.find('#'); hash != std::string::npos) target.resize(hash);
  std::string joined = !target.empty() && target[0] == '/' ? target.substr(1) : base + target;
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    std::string seg = joined.substr(start, slash - start);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    start = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

struct Relationship {
  std::string type, target;
};

class RelsHandler : public XmlHandler {
 public:
  explicit RelsHandler(std::string base) : base_(std::move(base)) {}
  void Start(std::string_view name, const char** a) override {
    if (name != "Relationship") return;
    const char* id = Attr(a, "Id");
    const char* type = Attr(a, "Type");
    const char* target = Attr(a, "Target");
    const char* mode = Attr(a, "TargetMode");
    if (id == nullptr || type == nullptr || target == nullptr) return;
    if (mode != nullptr && std::strcmp(mode, "External") == 0) return;
    rels[id] = {type, ResolveTarget(base_, target)};
  }
  void End(std::string_view) override {}
  std::unordered_map<std::string, Relationship> rels;

 private:
  std::string base_;
};

bool TypeIs(const std::string& type, std::string_view tail) {
  return type.size() >= tail.size() &&
         type.compare(type.size() - tail.size(), tail.size(), tail) == 0;
}

// ---------------------------------------------------------------- colours

struct RawColor {
  enum Kind : std::uint8_t { None, Auto, Rgb, Theme, Indexed } kind = None;
  std::uint32_t value = 0;
  double tint = 0;
};

RawColor ReadColor(const char** a) {
  RawColor c;
  c.tint = AttrDouble(a, "tint", 0);
  if (const char* rgb = Attr(a, "rgb")) {
    std::uint32_t v = 0;
    const std::size_t len = std::strlen(rgb);
    if (std::from_chars(rgb, rgb + len, v, 16).ptr == rgb + len) {
      c.kind = RawColor::Rgb;
      c.value = v & 0xFFFFFF;
    }
  } else if (Attr(a, "theme") != nullptr) {
    c.kind = RawColor::Theme;
    c.value = static_cast<std::uint32_t>(std::max(0L, AttrLong(a, "theme", 0)));
  } else if (Attr(a, "indexed") != nullptr) {
    c.kind = RawColor::Indexed;
    c.value = static_cast<std::uint32_t>(std::max(0L, AttrLong(a, "indexed", 0)));
  } else if (AttrBool(a, "auto", false)) {
    c.kind = RawColor::Auto;
  }
  return c;
}

constexpr std::array<std::uint32_t, 64> kDefaultPalette = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF,
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF,
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696,
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333};

// Theme colours in the order colour indexes use: lt1, dk1, lt2, dk2, accent1..6, hlink, folHlink.
using ThemePalette = std::array<std::uint32_t, 12>;
constexpr ThemePalette kDefaultTheme = {0xFFFFFF, 0x000000, 0xEEECE1, 0x1F497D, 0x4F81BD, 0xC0504D,
                                        0x9BBB59, 0x8064A2, 0x4BACC6, 0xF79646, 0x0000FF, 0x800080};

std::uint32_t ApplyTint(std::uint32_t rgb, double tint) {
  if (tint == 0) return rgb;
  double r = ((rgb >> 16) & 0xFF) / 255.0, g = ((rgb >> 8) & 0xFF) / 255.0,
         b = (rgb & 0xFF) / 255.0;
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  double h = 0, s = 0, l = (mx + mn) / 2;
  if (mx != mn) {
    const double d = mx - mn;
    s = l > 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
    if (mx == r)
      h = (g - b) / d + (g < b ? 6 : 0);
    else if (mx == g)
      h = (b - r) / d + 2;
    else
      h = (r - g) / d + 4;
    h /= 6;
  }
  l = tint < 0 ? l * (1 + tint) : l * (1 - tint) + tint;
  auto hue = [](double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0 / 6) return p + (q - p) * 6 * t;
    if (t < 0.5) return q;
    if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
  };
  if (s == 0) {
    r = g = b = l;
  } else {
    const double q = l < 0.5 ? l * (1 + s) : l + s - l * s, p = 2 * l - q;
    r = hue(p, q, h + 1.0 / 3);
    g = hue(p, q, h);
    b = hue(p, q, h - 1.0 / 3);
  }
  auto byte = [](double v) {
    return static_cast<std::uint32_t>(std::clamp(std::lround(v * 255), 0L, 255L));
  };
  return (byte(r) << 16) | (byte(g) << 8) | byte(b);
}

class ThemeHandler : public XmlHandler {
 public:
  void Start(std::string_view name, const char** a) override {
    static constexpr std::array<std::string_view, 12> kNames = {
        "lt1",     "dk1",     "lt2",     "dk2",     "accent1", "accent2",
        "accent3", "accent4", "accent5", "accent6", "hlink",   "folHlink"};
    if (name == "clrScheme") inScheme_ = !done_;
    if (!inScheme_) return;
    for (std::size_t i = 0; i < kNames.size(); ++i)
      if (name == kNames[i]) slot_ = static_cast<int>(i);
    const char* v = nullptr;
    if (name == "srgbClr") v = Attr(a, "val");
    if (name == "sysClr") v = Attr(a, "lastClr");
    if (v != nullptr && slot_ >= 0) {
      std::uint32_t rgb = 0;
      const std::size_t len = std::strlen(v);
      if (std::from_chars(v, v + len, rgb, 16).ptr == v + len)
        palette[static_cast<std::size_t>(slot_)] = rgb & 0xFFFFFF;
      slot_ = -1;
    }
  }
  void End(std::string_view name) override {
    if (name == "clrScheme" && inScheme_) inScheme_ = false, done_ = true;
  }
  ThemePalette palette = kDefaultTheme;

 private:
  bool inScheme_ = false, done_ = false;
  int slot_ = -1;
};

struct RawFont {
  Font font;
  RawColor color;
};

// Reads the children of a <font> or <rPr> element.
void ReadFontChild(std::string_view name, const char** a, RawFont& f) {
  const char* val = Attr(a, "val");
  if (name == "b")
    f.font.bold = AttrBool(a, "val", true);
  else if (name == "i")
    f.font.italic = AttrBool(a, "val", true);
  else if (name == "strike")
    f.font.strike = AttrBool(a, "val", true);
  else if (name == "u") {
    const std::string v = val != nullptr ? val : "single";
    f.font.underline = v == "single"             ? 1
                       : v == "double"           ? 2
                       : v == "singleAccounting" ? 3
                       : v == "doubleAccounting" ? 4
                                                 : 0;
  } else if (name == "sz")
    f.font.size = AttrDouble(a, "val", 11);
  else if (name == "name" || name == "rFont")
    f.font.name = val != nullptr ? val : "";
  else if (name == "family")
    f.font.family = static_cast<std::uint8_t>(AttrLong(a, "val", 0));
  else if (name == "vertAlign") {
    const std::string v = val != nullptr ? val : "";
    f.font.vertAlign = v == "superscript" ? 1 : v == "subscript" ? 2 : 0;
  } else if (name == "color")
    f.color = ReadColor(a);
}

struct RawBorderLine {
  std::uint8_t style = 0;
  RawColor color;
};
struct RawBorder {
  std::array<RawBorderLine, 5> lines;  // left right top bottom diagonal
  bool up = false, down = false;
};
struct RawFill {
  std::uint8_t pattern = 0;
  RawColor fg, bg;
};
struct RawXf {
  long numFmtId = 0, fontId = 0, fillId = 0, borderId = 0;
  Alignment align;
  bool locked = true, hidden = false;
};

std::uint8_t Lookup(const char* v, std::initializer_list<std::string_view> names) {
  if (v == nullptr) return 0;
  std::uint8_t i = 0;
  for (std::string_view n : names) {
    if (n == v) return i;
    ++i;
  }
  return 0;
}

class StylesHandler : public XmlHandler {
 public:
  void Start(std::string_view name, const char** a) override {
    if (name == "numFmt") {
      const char* code = Attr(a, "formatCode");
      numFmts[AttrLong(a, "numFmtId", -1)] = code != nullptr ? code : "";
    } else if (name == "fonts") {
      section_ = Section::Fonts;
    } else if (name == "fills") {
      section_ = Section::Fills;
    } else if (name == "borders") {
      section_ = Section::Borders;
    } else if (name == "cellXfs") {
      section_ = Section::Xfs;
    } else if (name == "cellStyleXfs" || name == "dxfs" || name == "cellStyles") {
      section_ = Section::Other;
    } else if (name == "indexedColors") {
      section_ = Section::Indexed;
    } else if (section_ == Section::Fonts) {
      if (name == "font")
        fonts.emplace_back();
      else if (!fonts.empty())
        ReadFontChild(name, a, fonts.back());
    } else if (section_ == Section::Fills) {
      if (name == "fill")
        fills.emplace_back();
      else if (fills.empty())
        return;
      else if (name == "patternFill")
        fills.back().pattern =
            Lookup(Attr(a, "patternType"),
                   {"none", "solid", "mediumGray", "darkGray", "lightGray", "darkHorizontal",
                    "darkVertical", "darkDown", "darkUp", "darkGrid", "darkTrellis",
                    "lightHorizontal", "lightVertical", "lightDown", "lightUp", "lightGrid",
                    "lightTrellis", "gray125", "gray0625"});
      else if (name == "fgColor")
        fills.back().fg = ReadColor(a);
      else if (name == "bgColor")
        fills.back().bg = ReadColor(a);
      else if (name == "gradientFill")
        gradient_ = true;
      else if (name == "color" && gradient_ && fills.back().pattern == 0) {
        fills.back().pattern = 1;  // a gradient is kept as its first colour
        fills.back().fg = ReadColor(a);
      }
    } else if (section_ == Section::Borders) {
      if (name == "border") {
        borders.emplace_back();
        borders.back().up = AttrBool(a, "diagonalUp", false);
        borders.back().down = AttrBool(a, "diagonalDown", false);
        line_ = -1;
        return;
      }
      if (borders.empty()) return;
      int side = name == "left" || name == "start"  ? 0
                 : name == "right" || name == "end" ? 1
                 : name == "top"                    ? 2
                 : name == "bottom"                 ? 3
                 : name == "diagonal"               ? 4
                                                    : -1;
      if (side >= 0) {
        line_ = side;
        borders.back().lines[static_cast<std::size_t>(side)].style =
            Lookup(Attr(a, "style"), {"none", "thin", "medium", "dashed", "dotted", "thick",
                                      "double", "hair", "mediumDashed", "dashDot", "mediumDashDot",
                                      "dashDotDot", "mediumDashDotDot", "slantDashDot"});
      } else if (name == "color" && line_ >= 0) {
        borders.back().lines[static_cast<std::size_t>(line_)].color = ReadColor(a);
      }
    } else if (section_ == Section::Xfs) {
      if (name == "xf") {
        RawXf x;
        x.numFmtId = AttrLong(a, "numFmtId", 0);
        x.fontId = AttrLong(a, "fontId", 0);
        x.fillId = AttrLong(a, "fillId", 0);
        x.borderId = AttrLong(a, "borderId", 0);
        xfs.push_back(x);
      } else if (xfs.empty()) {
        return;
      } else if (name == "alignment") {
        Alignment& al = xfs.back().align;
        al.horizontal =
            Lookup(Attr(a, "horizontal"), {"general", "left", "center", "right", "fill", "justify",
                                           "centerContinuous", "distributed"});
        al.vertical =
            Lookup(Attr(a, "vertical"), {"bottom", "top", "center", "justify", "distributed"});
        al.wrap = AttrBool(a, "wrapText", false);
        al.shrink = AttrBool(a, "shrinkToFit", false);
        al.indent = static_cast<std::uint8_t>(std::clamp(AttrLong(a, "indent", 0), 0L, 250L));
        al.rotation =
            static_cast<std::int16_t>(std::clamp(AttrLong(a, "textRotation", 0), 0L, 255L));
      } else if (name == "protection") {
        xfs.back().locked = AttrBool(a, "locked", true);
        xfs.back().hidden = AttrBool(a, "hidden", false);
      }
    } else if (section_ == Section::Indexed && name == "rgbColor") {
      RawColor c = ReadColor(a);
      palette.push_back(c.value);
    }
  }
  void End(std::string_view name) override {
    if (name == "fonts" || name == "fills" || name == "borders" || name == "cellXfs" ||
        name == "cellStyleXfs" || name == "dxfs" || name == "cellStyles" || name == "indexedColors")
      section_ = Section::None;
    if (name == "gradientFill") gradient_ = false;
    if (name == "left" || name == "right" || name == "top" || name == "bottom" ||
        name == "diagonal" || name == "start" || name == "end")
      line_ = -1;
  }

  std::unordered_map<long, std::string> numFmts;
  std::vector<RawFont> fonts;
  std::vector<RawFill> fills;
  std::vector<RawBorder> borders;
  std::vector<RawXf> xfs;
  std::vector<std::uint32_t> palette;  // custom indexed colours, when the file has them

 private:
  enum class Section { None, Fonts, Fills, Borders, Xfs, Indexed, Other } section_ = Section::None;
  bool gradient_ = false;
  int line_ = -1;
};

class ColorResolver {
 public:
  ColorResolver(const ThemePalette& theme, const std::vector<std::uint32_t>& custom)
      : theme_(theme), custom_(custom) {}
  // `isFill`: the "system" colours 64 and 65 read as automatic.
  Color Resolve(const RawColor& c) const {
    switch (c.kind) {
      case RawColor::None:
      case RawColor::Auto:
        return 0;
      case RawColor::Rgb:
        return Rgb(ApplyTint(c.value, c.tint));
      case RawColor::Theme:
        return c.value < theme_.size() ? Rgb(ApplyTint(theme_[c.value], c.tint)) : 0;
      case RawColor::Indexed: {
        if (c.value < custom_.size()) return Rgb(ApplyTint(custom_[c.value], c.tint));
        if (c.value < kDefaultPalette.size())
          return Rgb(ApplyTint(kDefaultPalette[c.value], c.tint));
        return 0;  // 64, 65: the system's foreground and background
      }
    }
    return 0;
  }

 private:
  const ThemePalette& theme_;
  const std::vector<std::uint32_t>& custom_;
};

// -------------------------------------------------------------- strings

// Reads <si> (shared strings) and <is> (inline strings): plain or rich text,
// leaving out phonetic runs.
class TextReader {
 public:
  void Begin() {
    runs_.clear();
    plain_.clear();
    rich_ = false;
    inRun_ = inPhonetic_ = inProps_ = false;
  }
  // Answers true when the element belonged to the text.
  bool Start(std::string_view name, const char** a, XmlHandler& h) {
    if (name == "rPh") {
      inPhonetic_ = true;
    } else if (name == "r" && !inPhonetic_) {
      inRun_ = true;
      runs_.emplace_back();
    } else if (name == "rPr" && inRun_) {
      inProps_ = true;
      rich_ = true;
      runs_.back().hasFont = true;
      runs_.back().font = Font();
      runs_.back().font.name.clear();
    } else if (inProps_) {
      RawFont f{runs_.back().font, {}};
      ReadFontChild(name, a, f);
      runs_.back().font = f.font;
      if (name == "color") colors_.emplace_back(runs_.size() - 1, f.color);
    } else if (name == "t" && !inPhonetic_) {
      h.collect = true;
      h.text.clear();
    } else {
      return name == "phoneticPr";
    }
    return true;
  }
  void End(std::string_view name, XmlHandler& h) {
    if (name == "rPh")
      inPhonetic_ = false;
    else if (name == "rPr")
      inProps_ = false;
    else if (name == "r")
      inRun_ = false;
    else if (name == "t" && h.collect) {
      h.collect = false;
      std::string t = Unescape(std::move(h.text));
      if (inRun_)
        runs_.back().text += t;
      else
        plain_ += t;
      h.text.clear();
    }
  }
  // Stores the text read since Begin() and answers its id.
  std::uint32_t Finish(Workbook& book, const ColorResolver& colors) {
    if (!rich_) {
      for (const RichRun& r : runs_) plain_ += r.text;
      colors_.clear();
      return book.AddText(plain_);
    }
    for (auto& [index, color] : colors_) runs_[index].font.color = colors.Resolve(color);
    colors_.clear();
    if (!plain_.empty()) runs_.insert(runs_.begin(), RichRun{false, Font(), plain_});
    return book.AddRichText(std::move(runs_));
  }

 private:
  std::vector<RichRun> runs_;
  std::vector<std::pair<std::size_t, RawColor>> colors_;
  std::string plain_;
  bool rich_ = false, inRun_ = false, inPhonetic_ = false, inProps_ = false;
};

class SharedStringsHandler : public XmlHandler {
 public:
  SharedStringsHandler(Workbook& book, const ColorResolver& colors)
      : book_(book), colors_(colors) {}
  void Start(std::string_view name, const char** a) override {
    if (name == "si") {
      inItem_ = true;
      reader_.Begin();
    } else if (inItem_) {
      reader_.Start(name, a, *this);
    }
  }
  void End(std::string_view name) override {
    if (!inItem_) return;
    if (name == "si") {
      inItem_ = false;
      ids.push_back(reader_.Finish(book_, colors_));
    } else {
      reader_.End(name, *this);
    }
  }
  std::vector<std::uint32_t> ids;

 private:
  Workbook& book_;
  const ColorResolver& colors_;
  TextReader reader_;
  bool inItem_ = false;
};

// ---------------------------------------------------------------- sheets

// Days from 1899-12-30 for an ISO date ("2024-03-01T12:00:00"); false when not one.
bool IsoToSerial(std::string_view s, bool date1904, double& serial) {
  int y = 0, m = 0, d = 0, hh = 0, mm = 0;
  double ss = 0;
  const std::string str(s);
  const int n = std::sscanf(str.c_str(), "%d-%d-%dT%d:%d:%lf", &y, &m, &d, &hh, &mm, &ss);
  if (n < 3 || m < 1 || m > 12 || d < 1 || d > 31) return false;
  // Days from civil (proleptic Gregorian).
  const int yy = y - (m <= 2 ? 1 : 0);
  const int era = (yy >= 0 ? yy : yy - 399) / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days = era * 146097L + doe - 719468L;  // days since 1970-01-01
  serial = static_cast<double>(days + 25569) + (hh * 3600 + mm * 60 + ss) / 86400.0;
  if (date1904)
    serial -= kDate1904Offset;
  else if (serial < 61)
    serial -= 1;  // the 1900 system's phantom 29 February
  return true;
}

int OpenScratch(const std::string& path);

class SheetHandler : public XmlHandler {
 public:
  SheetHandler(Workbook& book, Sheet& sheet, const std::vector<std::uint32_t>& sst,
               const std::vector<std::uint32_t>& xfStyles, const ColorResolver& colors,
               const std::string& path, const std::string& part, bool paged)
      : book_(book),
        sheet_(sheet),
        sst_(sst),
        xfStyles_(xfStyles),
        colors_(colors),
        path_(path),
        part_(part),
        paged_(paged) {}

  // Once the part is read: the rows written out to disk go to the sheet,
  // with those still held.
  void Finish() {
    if (pages_) PageOut(sheet_.rows.size());
    if (pages_ && !pages_->Finish()) StopPaging();
    if (pages_)
      sheet_.pages = std::move(pages_);
    else
      DropEmptyRows(sheet_.rows);
  }

  void Start(std::string_view name, const char** a) override {
    if (inInline_) {
      inline_.Start(name, a, *this);
      return;
    }
    if (name == "c") {
      StartCell(a);
    } else if (name == "v" && inCell_) {
      collect = true;
      text.clear();
    } else if (name == "f" && inCell_) {
      const char* t = Attr(a, "t");
      fType_ = t != nullptr ? t : "normal";
      const char* si = Attr(a, "si");
      fShared_ = si != nullptr ? AttrLong(a, "si", -1) : -1;
      hasFormula_ = true;
      collect = true;
      text.clear();
    } else if (name == "is" && inCell_) {
      inInline_ = true;
      inline_.Begin();
    } else if (name == "row") {
      const long r = AttrLong(a, "r", static_cast<long>(row_) + 1);
      if (r < 1 || r > static_cast<long>(kMaxRows) ||
          static_cast<std::uint32_t>(r) <= row_ - (row_ > 0))
        Damaged("行号 " + std::to_string(r) + " 无效");
      row_ = static_cast<std::uint32_t>(r);
      col_ = 0;
      const double ht = AttrDouble(a, "ht", 0);
      const bool hidden = AttrBool(a, "hidden", false);
      if (ht > 0 || hidden) {
        Row& row = TargetRow(row_);
        row.height = static_cast<float>(std::clamp(ht, 0.0, 409.0));
        row.hidden = hidden;
      }
    } else if (name == "col") {
      const long first = AttrLong(a, "min", 0), last = AttrLong(a, "max", 0);
      const double width = AttrDouble(a, "width", 0);
      const bool hidden = AttrBool(a, "hidden", false);
      if (first < 1 || last < first || (width <= 0 && !hidden)) return;
      for (long c = first; c <= std::min(last, static_cast<long>(kMaxCols)); ++c)
        sheet_.columns[static_cast<std::uint32_t>(c)] = {std::min(width, 255.0), hidden};
    } else if (name == "mergeCell") {
      Rect r;
      const char* ref = Attr(a, "ref");
      if (ref != nullptr && ParseRange(ref, r) && !(r.r1 == r.r2 && r.c1 == r.c2))
        sheet_.merges.push_back(r);
    } else if (name == "pane" && views_ == 1) {
      const char* state = Attr(a, "state");
      if (state != nullptr &&
          (std::strcmp(state, "frozen") == 0 || std::strcmp(state, "frozenSplit") == 0)) {
        sheet_.freezeCols =
            static_cast<std::uint32_t>(std::clamp(AttrLong(a, "xSplit", 0), 0L, 16383L));
        sheet_.freezeRows =
            static_cast<std::uint32_t>(std::clamp(AttrLong(a, "ySplit", 0), 0L, 1048575L));
      }
    } else if (name == "sheetView") {
      ++views_;
    } else if (name == "sheetFormatPr") {
      sheet_.defaultRowHeight = std::clamp(AttrDouble(a, "defaultRowHeight", 0), 0.0, 409.0);
    }
  }

  void End(std::string_view name) override {
    if (inInline_) {
      if (name == "is") {
        inInline_ = false;
        inlineText_ = inline_.Finish(book_, colors_);
        hasInline_ = true;
      } else {
        inline_.End(name, *this);
      }
      return;
    }
    if (name == "v" && inCell_) {
      collect = false;
      value_.swap(text);  // both keep their memory for the next cell
      hasValue_ = true;
      text.clear();
    } else if (name == "f" && inCell_) {
      collect = false;
      formula_.swap(text);
      text.clear();
    } else if (name == "c" && inCell_) {
      EndCell();
    } else if (name == "row" && !sheet_.rows.empty() && sheet_.rows.back().index == row_) {
      auto& cells = sheet_.rows.back().cells;  // millions of rows: no spare capacity
      if (cells.capacity() > cells.size() + cells.size() / 8) cells.shrink_to_fit();
      // A large sheet's rows go to disk as they come, all but the last one
      // (a later cell may still name it).
      if (paged_ && sheet_.rows.size() > 2 * RowPages::kBlockRows) {
        if (!pages_) {
          const int fd = OpenScratch(path_);
          if (fd >= 0)
            pages_ = std::make_shared<RowPages>(fd, path_);
          else
            paged_ = false;  // no scratch space: the rows stay in memory
        }
        if (pages_) PageOut(sheet_.rows.size() - 1);
      }
    }
  }

  static void DropEmptyRows(std::vector<Row>& rows) {
    std::erase_if(rows, [](const Row& r) { return r.cells.empty() && r.height == 0 && !r.hidden; });
  }

 private:
  [[noreturn]] void Damaged(const std::string& what) {
    Fail(path_, "文件已损坏：" + part_ + " 中" + what + "。");
  }

  // Moves the first `n` rows held to disk. Where the disk takes no more,
  // the rows stay in memory instead.
  void PageOut(std::size_t n) {
    auto& rows = sheet_.rows;
    std::size_t i = 0;
    bool written = true;
    for (; i < n && written; ++i) {
      Row& row = rows[i];
      if (row.cells.empty() && row.height == 0 && !row.hidden) continue;
      pagedLast_ = row.index;
      written = pages_->Add(std::move(row));
    }
    rows.erase(rows.begin(), rows.begin() + static_cast<long>(i));
    if (!written) StopPaging();
  }

  // Brings the rows on disk back to memory, before those held; the rest
  // of the sheet stays there.
  void StopPaging() {
    std::vector<Row> held = std::move(sheet_.rows);
    std::vector<Row> unwritten = pages_->TakeUnwritten();
    sheet_.pages = std::move(pages_);
    sheet_.Unpage();
    for (std::vector<Row>* more : {&unwritten, &held})
      std::move(more->begin(), more->end(), std::back_inserter(sheet_.rows));
    paged_ = false;
  }

  // The row `r` to add to. A cell naming a row already on disk (a file
  // whose cells are out of order) brings the sheet's rows back to memory.
  Row& TargetRow(std::uint32_t r) {
    if (pages_ && r <= pagedLast_) StopPaging();
    return sheet_.GetRow(r);
  }

  void StartCell(const char** a) {
    inCell_ = true;
    hasValue_ = hasFormula_ = hasInline_ = false;
    value_.clear();
    formula_.clear();
    fType_.clear();
    fShared_ = -1;
    if (row_ == 0) row_ = 1;
    // A cell's attributes in one pass: r, s and t, the first of each.
    const char *ref = nullptr, *styleText = nullptr, *t = nullptr;
    for (int i = 0; a[i] != nullptr; i += 2) {
      const char* local = a[i];
      for (const char* n = a[i]; *n != '\0'; ++n)
        if (*n == ':') local = n + 1;
      if (local[0] == '\0' || local[1] != '\0' || (local != a[i] && IsDeclaration(a[i]))) continue;
      const char*& slot = local[0] == 'r' ? ref : local[0] == 's' ? styleText : t;
      if ((local[0] == 'r' || local[0] == 's' || local[0] == 't') && slot == nullptr)
        slot = a[i + 1];
    }
    std::uint32_t r = 0, c = 0;
    if (ref != nullptr) {
      if (!ParseCellRef(ref, r, c)) Damaged("单元格地址“" + std::string(ref) + "”无效");
      if (r != row_) row_ = r;  // the cell's own address wins
    } else {
      c = col_ + 1;
      if (c > kMaxCols) Damaged("第 " + std::to_string(row_) + " 行的单元格过多");
    }
    col_ = c;
    const long s = LongValue(styleText, 0);
    style_ = s >= 0 && static_cast<std::size_t>(s) < xfStyles_.size()
                 ? xfStyles_[static_cast<std::size_t>(s)]
                 : 0;
    type_ = t == nullptr                       ? Type::Number
            : std::strcmp(t, "n") == 0         ? Type::Number
            : std::strcmp(t, "s") == 0         ? Type::Shared
            : std::strcmp(t, "str") == 0       ? Type::Str
            : std::strcmp(t, "inlineStr") == 0 ? Type::Inline
            : std::strcmp(t, "b") == 0         ? Type::Bool
            : std::strcmp(t, "e") == 0         ? Type::Error
            : std::strcmp(t, "d") == 0         ? Type::Date
                                               : Type::Number;
  }

  void EndCell() {
    inCell_ = false;
    Cell cell;
    cell.col = col_;
    cell.style = style_;
    if (type_ == Type::Inline) {
      if (hasInline_) {
        cell.kind = CellKind::Text;
        cell.text = inlineText_;
      } else if (hasValue_) {
        cell.kind = CellKind::Text;
        cell.text = book_.AddText(Unescape(value_));
      }
    } else if (!hasValue_ || (hasFormula_ && type_ != Type::Str &&
                              value_.find_first_not_of(" \t\r\n") == std::string::npos)) {
      // A styled blank, or a formula not computed yet (many writers leave
      // "<v></v>"): the formula is kept for the application to compute.
    } else if (type_ == Type::Shared) {
      std::size_t index = 0;
      if (!ParseNumber(std::string_view(value_), index) || index >= sst_.size())
        Damaged("单元格 " + CellRef(row_, col_) + " 引用了不存在的共享文本");
      cell.kind = CellKind::Text;
      cell.text = sst_[index];
    } else if (type_ == Type::Str) {
      cell.kind = CellKind::Text;
      cell.text = book_.AddText(Unescape(value_));
    } else if (type_ == Type::Bool) {
      cell.kind = CellKind::Bool;
      cell.number = value_ == "1" || value_ == "true" ? 1 : 0;
    } else if (type_ == Type::Error) {
      cell.kind = CellKind::Error;
      cell.text = book_.AddText(value_);
    } else if (type_ == Type::Date) {
      double serial = 0;
      if (IsoToSerial(value_, book_.date1904, serial)) {
        cell.kind = CellKind::Number;
        cell.number = serial;
      } else {
        cell.kind = CellKind::Text;
        cell.text = book_.AddText(value_);
      }
    } else {
      double v = 0;
      if (!ParseNumber(std::string_view(value_), v) || !std::isfinite(v))
        Damaged("单元格 " + CellRef(row_, col_) + " 的数值“" + value_.substr(0, 40) + "”无效");
      cell.kind = CellKind::Number;
      cell.number = v;
    }
    if (hasFormula_ && fType_ != "dataTable") {
      std::string f;
      if (fType_ == "shared" && fShared_ >= 0) {
        if (!formula_.empty()) {
          shared_[fShared_] = {formula_, row_, col_};
          f = formula_;
        } else if (auto it = shared_.find(fShared_); it != shared_.end()) {
          f = ShiftFormula(it->second.text,
                           static_cast<long>(row_) - static_cast<long>(it->second.row),
                           static_cast<long>(col_) - static_cast<long>(it->second.col));
        }
      } else {
        f = formula_;
      }
      if (!f.empty()) cell.formula = book_.AddFormula(std::move(f));
    }
    if (cell.kind == CellKind::Text && cell.text == 0 && cell.formula == 0)
      cell.kind = CellKind::Blank;  // an empty text shows, and counts, as blank
    if (cell.kind == CellKind::Blank && cell.formula == 0 && cell.style == 0) return;
    Row& row = TargetRow(row_);
    if (!row.cells.empty() && row.cells.back().col >= col_) {
      sheet_.Put(row_, col_) = cell;  // out of order or repeated: the last one wins
    } else {
      row.cells.push_back(cell);
    }
  }

  struct SharedFormula {
    std::string text;
    std::uint32_t row = 0, col = 0;
  };

  Workbook& book_;
  Sheet& sheet_;
  const std::vector<std::uint32_t>& sst_;
  const std::vector<std::uint32_t>& xfStyles_;
  const ColorResolver& colors_;
  const std::string& path_;
  const std::string& part_;
  std::uint32_t row_ = 0, col_ = 0, style_ = 0;
  bool inCell_ = false, hasValue_ = false, hasFormula_ = false, inInline_ = false,
       hasInline_ = false;
  int views_ = 0;
  bool paged_;
  std::shared_ptr<RowPages> pages_;  // rows of this sheet on disk so far
  std::uint32_t pagedLast_ = 0;      // the last of them
  // The cell's type attribute; any other than these reads as a number.
  enum class Type : std::uint8_t { Number, Shared, Str, Inline, Bool, Error, Date } type_{};
  std::string value_, formula_, fType_;
  long fShared_ = -1;
  std::uint32_t inlineText_ = 0;
  TextReader inline_;
  std::unordered_map<long, SharedFormula> shared_;
};

// ------------------------------------------------------------- workbook

struct SheetEntry {
  std::string name, relId;
  SheetState state = SheetState::Visible;
};

class WorkbookHandler : public XmlHandler {
 public:
  void Start(std::string_view name, const char** a) override {
    if (root.empty()) root = name;
    if (name == "workbookPr") {
      date1904 = AttrBool(a, "date1904", false);
    } else if (name == "sheet") {
      SheetEntry e;
      const char* n = Attr(a, "name");
      const char* id = Attr(a, "id");
      if (n == nullptr || id == nullptr) return;
      e.name = n;
      e.relId = id;
      const char* st = Attr(a, "state");
      if (st != nullptr && std::strcmp(st, "hidden") == 0) e.state = SheetState::Hidden;
      if (st != nullptr && std::strcmp(st, "veryHidden") == 0) e.state = SheetState::VeryHidden;
      sheets.push_back(std::move(e));
    }
  }
  void End(std::string_view) override {}
  std::string root;  // the part's first element: "workbook" in a workbook
  bool date1904 = false;
  std::vector<SheetEntry> sheets;
};

// The content types a package declares: by part name, else by extension.
class ContentTypesHandler : public XmlHandler {
 public:
  void Start(std::string_view name, const char** a) override {
    const char* type = Attr(a, "ContentType");
    if (type == nullptr) return;
    if (name == "Default") {
      if (const char* ext = Attr(a, "Extension")) defaults_[Lower(ext)] = type;
    } else if (name == "Override") {
      if (const char* part = Attr(a, "PartName"))
        overrides_[Lower(*part == '/' ? part + 1 : part)] = type;
    }
  }
  void End(std::string_view) override {}
  bool Empty() const { return defaults_.empty() && overrides_.empty(); }
  // The declared type of `part` ("xl/workbook.xml"), or "" when none is.
  std::string TypeOf(const std::string& part) const {
    if (auto it = overrides_.find(Lower(part)); it != overrides_.end()) return it->second;
    const std::size_t dot = part.rfind('.');
    if (dot != std::string::npos && part.find('/', dot) == std::string::npos)
      if (auto it = defaults_.find(Lower(part.substr(dot + 1))); it != defaults_.end())
        return it->second;
    return {};
  }

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  std::unordered_map<std::string, std::string> defaults_, overrides_;
};

// A file that is something else than a workbook (a document renamed, random
// bytes): said so plainly, with what it is when that is known.
[[noreturn]] void NotAWorkbook(const std::string& path, const std::string& mainType) {
  const char* text = PW_TR_NOOP("workbook", "“%1”不是 Excel 工作簿文件。");
  if (mainType.find("wordprocessingml") != std::string::npos)
    text = PW_TR_NOOP("workbook", "“%1”不是 Excel 工作簿文件：它的内容是 Word 文档。");
  else if (mainType.find("presentationml") != std::string::npos)
    text = PW_TR_NOOP("workbook", "“%1”不是 Excel 工作簿文件：它的内容是演示文稿。");
  throw RunError(RunError::Kind::Failure, path,
                 Arg(Translate("workbook", text), {DisplayText(path)}));
}

// The main part's content type names a workbook: the ordinary, template and
// macro-enabled kinds, in transitional and strict files alike.
bool IsWorkbookType(const std::string& type) {
  return TypeIs(type, ".main+xml") && (type.find("spreadsheetml") != std::string::npos ||
                                       type.find("vnd.ms-excel") != std::string::npos);
}

class RootRelsHandler : public RelsHandler {
 public:
  RootRelsHandler() : RelsHandler("") {}
};

// A nameless scratch file beside `path`, else in the temporary folder; -1
// with errno set when neither can be made.
int OpenScratch(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  int fd = OpenUnnamedFile(slash == std::string::npos ? "." : path.substr(0, slash + 1));
  if (fd < 0) {
    std::error_code ec;
    const std::string temp = std::filesystem::temp_directory_path(ec).string();
    if (!ec) fd = OpenUnnamedFile(temp);
  }
  return fd;
}

std::unique_ptr<Workbook> Read(const Package& pkg, const std::string& path, bool paged) {
  RootRelsHandler root;
  pkg.Parse("_rels/.rels", root);
  std::string workbookPart;
  for (const auto& [id, rel] : root.rels)
    if (TypeIs(rel.type, "/officeDocument")) workbookPart = rel.target;
  ContentTypesHandler types;
  pkg.Parse("[Content_Types].xml", types);
  // The content decides, not the name: a document renamed .xlsx is refused
  // before anything is made of it.
  if (!workbookPart.empty()) {
    const std::string type = types.TypeOf(workbookPart);
    if (type.find("vnd.ms-excel.sheet.binary") != std::string::npos)
      Fail(path, Translate("workbook",
                           "这是二进制工作簿（.xlsb），无法读取。请在电子表格程序中另存为 "
                           ".xlsx 后再试。"));
    if (!type.empty() && !IsWorkbookType(type)) NotAWorkbook(path, type);
  }
  if (workbookPart.empty() || !pkg.Has(workbookPart)) workbookPart = "xl/workbook.xml";

  WorkbookHandler wb;
  if (!pkg.Parse(workbookPart, wb)) {
    if (pkg.Has("word/document.xml")) NotAWorkbook(path, "wordprocessingml");
    if (pkg.Has("ppt/presentation.xml")) NotAWorkbook(path, "presentationml");
    if (types.Empty() && root.rels.empty()) NotAWorkbook(path, {});  // a zip of something else
    Fail(path, "文件已损坏，或不是 .xlsx 工作簿（缺少 " + workbookPart + "）。");
  }
  if (wb.root != "workbook") NotAWorkbook(path, types.TypeOf(workbookPart));
  RelsHandler rels(Folder(workbookPart));
  pkg.Parse(RelsOf(workbookPart), rels);

  auto book = std::make_unique<Workbook>();
  book->date1904 = wb.date1904;

  ThemeHandler theme;
  StylesHandler styles;
  std::string sstPart;
  for (const auto& [id, rel] : rels.rels) {
    if (TypeIs(rel.type, "/theme"))
      pkg.Parse(rel.target, theme);
    else if (TypeIs(rel.type, "/styles"))
      pkg.Parse(rel.target, styles);
    else if (TypeIs(rel.type, "/sharedStrings"))
      sstPart = rel.target;
  }
  ColorResolver colors(theme.palette, styles.palette);

  // Styles of the cell formats, resolved to RGB.
  auto pick = [](auto& list, long i) -> decltype(&list[0]) {
    return i >= 0 && static_cast<std::size_t>(i) < list.size() ? &list[static_cast<std::size_t>(i)]
                                                               : nullptr;
  };
  if (!styles.fonts.empty()) {
    Font f = styles.fonts[0].font;
    f.color = colors.Resolve(styles.fonts[0].color);
    book->SetDefaultFont(f);
  }
  std::vector<std::uint32_t> xfStyles;
  xfStyles.reserve(styles.xfs.size());
  for (const RawXf& x : styles.xfs) {
    Style s;
    if (auto it = styles.numFmts.find(x.numFmtId); it != styles.numFmts.end()) {
      s.numFmtId = BuiltinFormatId(it->second);
      s.numFmt = it->second;
    } else if (x.numFmtId >= 0 && x.numFmtId < 164) {
      s.numFmtId = static_cast<std::uint16_t>(x.numFmtId);
      s.numFmt = BuiltinFormat(s.numFmtId);
    }
    if (const RawFont* f = pick(styles.fonts, x.fontId)) {
      s.font = f->font;
      s.font.color = colors.Resolve(f->color);
    } else {
      s.font = book->DefaultFont();
    }
    if (const RawFill* f = pick(styles.fills, x.fillId)) {
      s.fill.pattern = f->pattern;
      if (f->pattern != 0) s.fill.fg = colors.Resolve(f->fg);
      if (f->pattern > 1) s.fill.bg = colors.Resolve(f->bg);  // a solid fill shows only one colour
    }
    if (const RawBorder* b = pick(styles.borders, x.borderId)) {
      BorderLine* lines[] = {&s.border.left, &s.border.right, &s.border.top, &s.border.bottom,
                             &s.border.diagonal};
      for (std::size_t i = 0; i < 5; ++i) {
        lines[i]->style = b->lines[i].style;
        if (lines[i]->style != 0) lines[i]->color = colors.Resolve(b->lines[i].color);
      }
      s.border.diagonalUp = b->up;
      s.border.diagonalDown = b->down;
    }
    s.align = x.align;
    s.locked = x.locked;
    s.hidden = x.hidden;
    xfStyles.push_back(book->AddStyle(s));
  }

  if (paged) {
    const int fd = OpenScratch(path);
    if (fd >= 0) book->KeepTextsOnDisk(fd, path);
  }
  SharedStringsHandler sst(*book, colors);
  if (!sstPart.empty()) pkg.Parse(sstPart, sst);

  for (const SheetEntry& e : wb.sheets) {
    auto it = rels.rels.find(e.relId);
    if (it == rels.rels.end()) Fail(path, "文件已损坏：找不到工作表“" + e.name + "”的内容。");
    if (!TypeIs(it->second.type, "/worksheet")) continue;  // chart and dialog sheets hold no cells
    Sheet& sheet = book->AddSheet(e.name);
    sheet.state = e.state;
    SheetHandler handler(*book, sheet, sst.ids, xfStyles, colors, path, it->second.target, paged);
    if (!pkg.Parse(it->second.target, handler))
      Fail(path, "文件已损坏：缺少工作表“" + e.name + "”（" + it->second.target + "）。");
    handler.Finish();
  }
  return book;
}

void CheckSignature(const void* data, std::size_t size, const std::string& path) {
  const auto* p = static_cast<const unsigned char*>(data);
  static constexpr unsigned char kOle[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (size >= 8 && std::memcmp(p, kOle, 8) == 0)
    Fail(path, Translate("workbook",
                         "文件已加密（设有打开密码），或实为 .xls 格式。"
                         "请在电子表格程序中去掉密码或另存为 .xlsx 后再试。"));
  if (size == 0) Fail(path, Translate("workbook", "文件是空的。"));
  if (size < 4 || p[0] != 'P' || p[1] != 'K') NotAWorkbook(path, {});
}

}  // namespace

std::unique_ptr<Workbook> ReadXlsxBytes(const void* data, std::size_t size,
                                        const std::string& path) {
  CheckSignature(data, size, path);
  Package pkg(path, data, size);
  return Read(pkg, path, false);
}

int OpenRegularFile(const std::string& path) {
  // Opened without waiting: a named pipe or a device would otherwise block
  // until something else opens its other end, which may be never.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int err = errno;
    throw RunError(RunError::Kind::Failure, path, FileErrorText("打开", path, err));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : 0;
    ::close(fd);
    throw RunError(RunError::Kind::Failure, path,
                   err != 0 ? FileErrorText("打开", path, err)
                            : Arg(Translate("batch", "无法打开“%1”：这不是一个普通文件"),
                                  {DisplayText(path)}));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

namespace {

std::unique_ptr<Workbook> ReadFile(const std::string& path, bool paged) {
  const int fd = OpenRegularFile(path);
  // Only the head of the file is looked at first; the rest is read as the
  // parts come.
  unsigned char head[8] = {};
  struct stat st {};
  ssize_t n = -1;
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else {
    do n = ::pread(fd, head, sizeof head, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) err = errno;
  }
  if (err != 0) {
    ::close(fd);
    throw RunError(RunError::Kind::Failure, path, FileErrorText("读取工作簿", path, err));
  }
  try {
    CheckSignature(
        head,
        std::min<std::size_t>(static_cast<std::size_t>(n), static_cast<std::size_t>(st.st_size)),
        path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  Package pkg(path, fd);
  return Read(pkg, path, paged);
}

}  // namespace

std::unique_ptr<Workbook> ReadXlsx(const std::string& path) {
  return ReadFile(path, false);
}

std::unique_ptr<Workbook> ReadXlsxPaged(const std::string& path) {
  return ReadFile(path, true);
}

}  // namespace pw::xl

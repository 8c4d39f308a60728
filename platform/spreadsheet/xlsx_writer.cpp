#include "platform/spreadsheet/xlsx_writer.h"

#include <fcntl.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include "platform/errors.h"
#include "platform/output_file.h"
#include "platform/run_errors.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::xl {
namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& cause) {
  throw RunError(RunError::Kind::Failure, path,
                 Arg(Translate("workbook", "无法保存工作簿“%1”：%2"), {DisplayText(path), cause}));
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The cause of a failed write: the disk's state tells a full disk from a
// short write that came without an error number.
int WriteFailureCause(int err, const std::string& folder) {
  if (err != 0) return err;
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) == 0 && fs.f_bavail == 0) return ENOSPC;
  return EIO;
}

// ------------------------------------------------------------------ file

// The output file, written through a buffer; any failed write fails the save.
class OutFile {
 public:
  OutFile(const std::string& file, const std::string& path) : path_(path), folder_(FolderOf(file)) {
    fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) FailWith(errno);
    buffer_.reserve(kBuffer);
  }
  // A nameless file in `folder`, gone once closed, with a smaller buffer:
  // many of them may be open at once.
  OutFile(const std::string& folder, const std::string& path, bool)
      : path_(path), folder_(folder), limit_(kSmallBuffer) {
    fd_ = OpenUnnamedFile(folder);
    if (fd_ < 0) FailWith(errno);
    buffer_.reserve(limit_);
  }
  ~OutFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  std::uint64_t Offset() const { return flushed_ + buffer_.size(); }

  void Write(const void* data, std::size_t n) {
    if (buffer_.size() + n > limit_) Flush();
    if (n >= kBuffer) {
      WriteAt(data, n, flushed_, false);
      flushed_ += n;
      return;
    }
    buffer_.append(static_cast<const char*>(data), n);
  }

  void Flush() {
    if (buffer_.empty()) return;
    WriteAt(buffer_.data(), buffer_.size(), flushed_, false);
    flushed_ += buffer_.size();
    buffer_.clear();
  }

  // Replaces bytes already written at `offset`.
  void Patch(const void* data, std::size_t n, std::uint64_t offset) {
    Flush();
    WriteAt(data, n, offset, true);
  }

  void Close() {
    Flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) FailWith(errno);
  }

  // Appends everything written here to `to`.
  void CopyTo(OutFile& to) {
    Flush();
    std::vector<char> chunk(kBuffer);
    for (std::uint64_t at = 0; at < flushed_;) {
      const ssize_t n = ::pread(fd_, chunk.data(), chunk.size(), static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) FailWith(n < 0 ? errno : EIO);
      to.Write(chunk.data(), static_cast<std::size_t>(n));
      at += static_cast<std::uint64_t>(n);
    }
  }

  [[noreturn]] void FailWith(int err) const {
    Fail(path_, DescribeErrno(WriteFailureCause(err, folder_), true) + "。");
  }

 private:
  static constexpr std::size_t kBuffer = 1 << 18, kSmallBuffer = 1 << 16;

  void WriteAt(const void* data, std::size_t n, std::uint64_t offset, bool seek) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      const ssize_t w = seek ? ::pwrite(fd_, p, n, static_cast<off_t>(offset)) : ::write(fd_, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) FailWith(w < 0 ? errno : 0);
      p += w;
      n -= static_cast<std::size_t>(w);
      offset += static_cast<std::uint64_t>(w);
    }
  }

  std::string path_, folder_;
  std::size_t limit_ = kBuffer;
  int fd_ = -1;
  std::string buffer_;
  std::uint64_t flushed_ = 0;
};

// ------------------------------------------------------------------- zip

void Put16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, std::uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
void Put64(std::string& s, std::uint64_t v) {
  Put32(s, static_cast<std::uint32_t>(v));
  Put32(s, static_cast<std::uint32_t>(v >> 32));
}

constexpr std::uint32_t k32 = 0xFFFFFFFF;
constexpr std::uint32_t kDosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01, the format's first day

std::uint32_t Crc(std::uint32_t crc, const char* data, std::size_t n) {
  return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(data), n);
}

// Where XML text goes once gathered.
class XmlSink {
 public:
  virtual void Data(const char* data, std::size_t n) = 0;

 protected:
  ~XmlSink() = default;
};

// Raw deflate into a file, in segments: each but the last ends on a byte
// boundary without closing the stream and the next starts with no history,
// so segments deflated apart join into one stream by simply following each
// other.
class Deflater {
 public:
  // `small`: less working memory, for one of many open at once.
  explicit Deflater(OutFile& out, bool small = false)
      : out_(out),
        z_(std::make_unique<isal_zstream>()),
        level_(small ? ISAL_DEF_LVL1_SMALL : kLevelBuffer),
        buf_(small ? 1 << 15 : 1 << 17) {
    Start();
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  void Feed(const char* data, std::size_t n) {
    while (n > 0) {  // the compressor counts in 32 bits
      const auto step = static_cast<std::uint32_t>(std::min<std::size_t>(n, 1u << 30));
      z_->next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(data));
      z_->avail_in = step;
      Pump();
      data += step;
      n -= step;
    }
  }

  void EndSegment(bool last) {
    z_->next_in = nullptr;
    z_->avail_in = 0;
    if (last)
      z_->end_of_stream = 1;
    else
      z_->flush = SYNC_FLUSH;
    Pump();
    Start();
  }

 private:
  // The compressor's fast level with its suggested working memory: the XML
  // of sheets compresses well even so, and the time goes to the data.
  static constexpr std::size_t kLevelBuffer = ISAL_DEF_LVL1_DEFAULT;

  void Start() {
    isal_deflate_init(z_.get());
    z_->level = 1;
    z_->level_buf = level_.data();
    z_->level_buf_size = static_cast<std::uint32_t>(level_.size());
    z_->flush = NO_FLUSH;
  }

  // Runs until the input is taken and, at the end of a segment, flushed or
  // closed: output space left over means the compressor has nothing more.
  void Pump() {
    for (;;) {
      z_->next_out = buf_.data();
      z_->avail_out = static_cast<std::uint32_t>(buf_.size());
      if (isal_deflate(z_.get()) != COMP_OK) out_.FailWith(EIO);
      const std::size_t n = buf_.size() - z_->avail_out;
      if (n > 0) out_.Write(buf_.data(), n);
      if (z_->avail_out != 0 && (z_->end_of_stream == 0 || z_->internal_state.state == ZSTATE_END))
        return;
    }
  }

  OutFile& out_;
  std::unique_ptr<isal_zstream> z_;  // large: its history lives inside
  std::vector<std::uint8_t> level_;
  std::vector<std::uint8_t> buf_;
};

// A zip package written front to back. Each entry is deflated as its data
// comes; its local header leaves room for the 64-bit sizes (as padding of
// the kind packages use to grow in place) and is filled in once the entry
// is complete, so no data descriptor is needed.
class ZipWriter : public XmlSink {
 public:
  explicit ZipWriter(OutFile& out) : out_(out), deflater_(out) {}

  void Begin(std::string name) {
    Entry e;
    e.name = std::move(name);
    e.offset = out_.Offset();
    entries_.push_back(std::move(e));
    const std::string header = LocalHeader(entries_.back());
    out_.Write(header.data(), header.size());
    dataStart_ = out_.Offset();
  }

  void Data(const char* data, std::size_t n) override {
    Entry& e = entries_.back();
    e.size += n;
    e.crc = Crc(e.crc, data, n);
    deflater_.Feed(data, n);
  }

  // Adds data deflated elsewhere as a segment of its own (see Deflater):
  // `packed` bytes of `from`, `size` bytes with checksum `crc` once inflated.
  void Splice(OutFile& from, std::uint64_t size, std::uint32_t crc) {
    deflater_.EndSegment(false);
    Entry& e = entries_.back();
    e.crc = static_cast<std::uint32_t>(crc32_combine64(e.crc, crc, static_cast<z_off64_t>(size)));
    e.size += size;
    from.CopyTo(out_);
  }

  void End() {
    deflater_.EndSegment(true);
    entries_.back().packed = out_.Offset() - dataStart_;
    const std::string header = LocalHeader(entries_.back());
    out_.Patch(header.data(), header.size(), entries_.back().offset);
  }

  void Finish() {
    const std::uint64_t start = out_.Offset();
    std::string cd;
    for (const Entry& e : entries_) {
      const bool big = Big(e), far = e.offset >= k32;
      std::string extra;
      if (big || far) {
        std::string fields;
        if (big) Put64(fields, e.size), Put64(fields, e.packed);
        if (far) Put64(fields, e.offset);
        Put16(extra, 0x0001);
        Put16(extra, static_cast<std::uint32_t>(fields.size()));
        extra += fields;
      }
      const std::uint32_t version = big || far ? 45 : 20;
      Put32(cd, 0x02014b50);
      Put16(cd, version);
      Fields(cd, e, version);
      Put16(cd, static_cast<std::uint32_t>(extra.size()));
      Put16(cd, 0);
      Put16(cd, 0);
      Put16(cd, 0);
      Put32(cd, 0);
      Put32(cd, far ? k32 : static_cast<std::uint32_t>(e.offset));
      cd += e.name;
      cd += extra;
    }
    const std::uint64_t size = cd.size(), count = entries_.size();
    const bool zip64 = count >= 0xFFFF || start >= k32 || size >= k32;
    if (zip64) {
      const std::uint64_t at = start + size;
      Put32(cd, 0x06064b50);
      Put64(cd, 44);
      Put16(cd, 45);
      Put16(cd, 45);
      Put32(cd, 0);
      Put32(cd, 0);
      Put64(cd, count);
      Put64(cd, count);
      Put64(cd, size);
      Put64(cd, start);
      Put32(cd, 0x07064b50);
      Put32(cd, 0);
      Put64(cd, at);
      Put32(cd, 1);
    }
    Put32(cd, 0x06054b50);
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, zip64 ? 0xFFFF : static_cast<std::uint32_t>(count));
    Put16(cd, zip64 ? 0xFFFF : static_cast<std::uint32_t>(count));
    Put32(cd, zip64 ? k32 : static_cast<std::uint32_t>(size));
    Put32(cd, zip64 ? k32 : static_cast<std::uint32_t>(start));
    Put16(cd, 0);
    out_.Write(cd.data(), cd.size());
  }

 private:
  struct Entry {
    std::string name;
    std::uint64_t offset = 0, size = 0, packed = 0;
    std::uint32_t crc = 0;
  };

  static bool Big(const Entry& e) { return e.size >= k32 || e.packed >= k32; }

  // What local and central headers share, from the version needed to the
  // name's length: deflated, dated on the format's first day.
  static void Fields(std::string& h, const Entry& e, std::uint32_t version) {
    const bool big = Big(e);
    Put16(h, version);
    Put16(h, 0);
    Put16(h, 8);
    Put16(h, 0);
    Put16(h, kDosDate);
    Put32(h, e.crc);
    Put32(h, big ? k32 : static_cast<std::uint32_t>(e.packed));
    Put32(h, big ? k32 : static_cast<std::uint32_t>(e.size));
    Put16(h, static_cast<std::uint32_t>(e.name.size()));
  }

  static std::string LocalHeader(const Entry& e) {
    const bool big = Big(e);
    std::string h;
    Put32(h, 0x04034b50);
    Fields(h, e, big ? 45 : 20);
    Put16(h, 20);
    h += e.name;
    if (big) {
      Put16(h, 0x0001);
      Put16(h, 16);
      Put64(h, e.size);
      Put64(h, e.packed);
    } else {
      Put16(h, 0xA220);  // padding: room to grow
      Put16(h, 16);
      Put16(h, 0xA028);
      Put16(h, 0);
      h.append(12, '\0');
    }
    return h;
  }

  OutFile& out_;
  Deflater deflater_;
  std::uint64_t dataStart_ = 0;
  std::vector<Entry> entries_;
};

// ------------------------------------------------------------------- XML

// XML text on its way into the current zip entry.
class Xml {
 public:
  explicit Xml(XmlSink& sink) : sink_(sink) { s.reserve(kChunk + 4096); }
  std::string s;

  Xml& operator<<(std::string_view t) {
    s += t;
    return *this;
  }
  Xml& operator<<(char c) {
    s += c;
    return *this;
  }
  Xml& Num(double v) {
    char buf[32];  // the shortest form that reads back as the same number
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, r.ptr);
    return *this;
  }
  Xml& Int(std::uint64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, r.ptr);
    return *this;
  }
  Xml& Ref(std::uint32_t row, std::uint32_t col) {
    char buf[16];
    char* p = buf + 3;
    *p = static_cast<char>('A' + (col - 1) % 26);
    for (std::uint32_t c = (col - 1) / 26; c > 0; c = (c - 1) / 26)
      *--p = static_cast<char>('A' + (c - 1) % 26);
    s.append(p, buf + 4);
    return Int(row);
  }
  Xml& Color(Color c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    s += "rgb=\"FF";
    const std::uint32_t rgb = RgbOf(c);
    for (int shift = 20; shift >= 0; shift -= 4) s += kHex[(rgb >> shift) & 0xF];
    s += '"';
    return *this;
  }

  // Text with the characters XML cannot hold written as the format's
  // "_xHHHH_" escapes, and a text that looks like one escaped in turn.
  // Formulas, names and format codes (`plain`) know no such escapes: there
  // those characters are left out.
  Xml& Text(std::string_view t, bool plain = false) {
    for (std::size_t i = 0; i < t.size(); ++i) {
      const auto ch = static_cast<unsigned char>(t[i]);
      switch (ch) {
        case '&':
          s += "&amp;";
          continue;
        case '<':
          s += "&lt;";
          continue;
        case '>':
          s += "&gt;";
          continue;
        case '"':
          s += "&quot;";
          continue;
        case '\t':
        case '\n':
          s += t[i];
          continue;
        case '_':
          if (!plain && LooksEscaped(t.substr(i))) {
            s += "_x005F_";
            continue;
          }
          break;
        default:
          if (ch < 0x20 && plain) continue;
          if (ch < 0x20) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            s += "_x00";
            s += kHex[ch >> 4];
            s += kHex[ch & 0xF];
            s += '_';
            continue;
          }
      }
      s += t[i];
    }
    return *this;
  }

  // Sends what has gathered once there is enough of it.
  void Spill() {
    if (s.size() >= kChunk) Send();
  }
  void Send() {
    sink_.Data(s.data(), s.size());
    s.clear();
  }

 private:
  static constexpr std::size_t kChunk = 1 << 16;
  static bool LooksEscaped(std::string_view t) {
    if (t.size() < 7 || t[1] != 'x' || t[6] != '_') return false;
    for (std::size_t k = 2; k < 6; ++k)
      if (!std::isxdigit(static_cast<unsigned char>(t[k]))) return false;
    return true;
  }
  XmlSink& sink_;
};

constexpr std::string_view kXmlHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRelNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// Sheet names as the application accepts them.
bool ValidSheetName(const std::string& name) {
  if (name.empty() || name.front() == '\'' || name.back() == '\'') return false;
  if (name.find_first_of("[]:*?/\\") != std::string::npos) return false;
  std::size_t chars = 0;
  for (unsigned char c : name) chars += (c & 0xC0) != 0x80;
  return chars <= 31;
}

std::string FoldCase(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool SameFont(const Font& a, const Font& b) {
  return a == b;
}

// A font's settings, as in the styles part and in the runs of rich text
// (`nameTag` differs between them).
void FontBody(Xml& x, const Font& f, const char* nameTag) {
  if (f.bold) x << "<b/>";
  if (f.italic) x << "<i/>";
  if (f.strike) x << "<strike/>";
  static constexpr const char* kUnderline[] = {"", "", "double", "singleAccounting",
                                               "doubleAccounting"};
  if (f.underline == 1)
    x << "<u/>";
  else if (f.underline > 1 && f.underline <= 4)
    x << "<u val=\"" << kUnderline[f.underline] << "\"/>";
  if (f.vertAlign == 1) x << "<vertAlign val=\"superscript\"/>";
  if (f.vertAlign == 2) x << "<vertAlign val=\"subscript\"/>";
  if (f.size > 0) x << "<sz val=\"", x.Num(f.size) << "\"/>";
  if (f.color != 0) x << "<color ", x.Color(f.color) << "/>";
  if (!f.name.empty()) x << '<' << nameTag << " val=\"", x.Text(f.name, true) << "\"/>";
  if (f.family != 0) x << "<family val=\"", x.Int(f.family) << "\"/>";
}

// Rows as sheet XML; cells name their styles, texts and formulas in `book`.
class RowXml {
 public:
  RowXml(const Workbook& book, const std::string& path, Xml& x)
      : book_(book), path_(path), xml_(x) {}
  std::string sheetName;      // for messages
  std::uint32_t lastRow = 0;  // rows come in ascending order

  void Write(const Row& row) {
    if (row.index <= lastRow || row.index > kMaxRows)
      CellFault(row.index, 1, "row out of order or out of range");
    lastRow = row.index;
    if (row.cells.empty() && row.height <= 0 && !row.hidden) return;
    Xml& x = xml_;
    x << "<row r=\"", x.Int(row.index) << '"';
    if (row.height > 0) x << " ht=\"", x.Num(row.height) << "\" customHeight=\"1\"";
    if (row.hidden) x << " hidden=\"1\"";
    if (row.cells.empty()) {
      x << "/>";
      return;
    }
    x << '>';
    for (const Cell& c : row.cells) WriteCell(row.index, c);
    x << "</row>";
    x.Spill();
  }

 private:
  [[noreturn]] void CellFault(std::uint32_t row, std::uint32_t col, const std::string& cause) {
    Fail(path_, Arg(Translate("workbook", "工作表“%1”单元格 %2：%3"),
                    {sheetName, CellRef(row, col), cause}));
  }

  bool IsDate(std::uint32_t style) {
    if (dateStyle_.size() < book_.styles.size()) dateStyle_.resize(book_.styles.size(), -1);
    if (dateStyle_[style] < 0) {
      const Style& s = book_.styles[style];
      dateStyle_[style] = IsDateFormat(s.numFmtId, s.numFmt) ? 1 : 0;
    }
    return dateStyle_[style] == 1;
  }

  void Open(std::uint32_t r, const Cell& c, const char* type) {
    Xml& x = xml_;
    x << "<c r=\"";
    x.Ref(r, c.col) << '"';
    if (c.style != 0) x << " s=\"", x.Int(c.style) << '"';
    if (type != nullptr) x << " t=\"" << type << '"';
  }

  void WriteCell(std::uint32_t r, const Cell& c) {
    if (c.col < 1 || c.col > kMaxCols) CellFault(r, c.col, "column out of range");
    if (c.style >= book_.styles.size()) CellFault(r, c.col, "unknown style");
    Xml& x = xml_;
    double number = c.number;
    if (c.kind == CellKind::Number && book_.date1904 && IsDate(c.style)) number += kDate1904Offset;
    const bool finite = c.kind != CellKind::Number || std::isfinite(number);
    if (c.formula != 0) {
      static constexpr const char* kTypes[] = {nullptr, nullptr, "str", "b", "e"};
      Open(r, c, finite ? kTypes[static_cast<int>(c.kind)] : "e");
      x << "><f>";
      x.Text(book_.Formula(c), true) << "</f>";
      WriteValue(c, number, finite);
      x << "</c>";
      return;
    }
    switch (c.kind) {
      case CellKind::Number:
      case CellKind::Bool:
      case CellKind::Error: {
        static constexpr const char* kTypes[] = {nullptr, nullptr, nullptr, "b", "e"};
        Open(r, c, finite ? kTypes[static_cast<int>(c.kind)] : "e");
        x << '>';
        WriteValue(c, number, finite);
        x << "</c>";
        return;
      }
      case CellKind::Text:
        WriteText(r, c);
        return;
      case CellKind::Blank:
        if (c.style != 0) Open(r, c, nullptr), x << "/>";
        return;
    }
  }

  // The value (or cached result) of a cell; a formula never computed has none.
  void WriteValue(const Cell& c, double number, bool finite) {
    Xml& x = xml_;
    switch (c.kind) {
      case CellKind::Blank:
        return;
      case CellKind::Number:
        if (finite)
          x << "<v>", x.Num(number) << "</v>";
        else
          x << "<v>#NUM!</v>";
        return;
      case CellKind::Bool:
        x << (c.number != 0 ? "<v>1</v>" : "<v>0</v>");
        return;
      case CellKind::Text:
      case CellKind::Error:
        x << "<v>";
        x.Text(book_.Text(c.text)) << "</v>";
        return;
    }
  }

  void WriteText(std::uint32_t r, const Cell& c) {
    Xml& x = xml_;
    const std::string& text = book_.Text(c.text);
    if (text.size() > 32767 * 3 || Utf16Length(text) > 32767)
      CellFault(r, c.col, "String exceeds Excel's limit of 32,767 characters.");
    if (const std::vector<RichRun>* runs = book_.Runs(c.text)) {
      const auto shown = std::count_if(runs->begin(), runs->end(),
                                       [](const RichRun& run) { return !run.text.empty(); });
      if (shown >= 2) {
        Open(r, c, "inlineStr");
        x << "><is>";
        for (const RichRun& run : *runs) {
          if (run.text.empty()) continue;
          x << "<r>";
          if (run.hasFont) {
            x << "<rPr>";
            FontBody(x, run.font, "rFont");
            x << "</rPr>";
          }
          TextElement(run.text);
          x << "</r>";
        }
        x << "</is></c>";
        return;
      }
    }
    if (text.empty()) {
      if (c.style != 0) Open(r, c, nullptr), x << "/>";
      return;
    }
    Open(r, c, "inlineStr");
    x << "><is>";
    TextElement(text);
    x << "</is></c>";
  }

  void TextElement(std::string_view t) {
    const bool space = !t.empty() && (std::isspace(static_cast<unsigned char>(t.front())) ||
                                      std::isspace(static_cast<unsigned char>(t.back())));
    xml_ << (space ? "<t xml:space=\"preserve\">" : "<t>");
    xml_.Text(t) << "</t>";
  }

  static std::size_t Utf16Length(std::string_view t) {
    std::size_t n = 0;
    for (unsigned char c : t) {
      if ((c & 0xC0) != 0x80) ++n;
      if (c >= 0xF0) ++n;  // outside the basic plane: two units
    }
    return n;
  }

  const Workbook& book_;
  const std::string& path_;
  Xml& xml_;
  std::vector<int> dateStyle_;
};

}  // namespace

// Rows of one sheet written out ahead of the save (see SpillRows).
class SheetSpill : public XmlSink {
 public:
  SheetSpill(const Workbook& book, const std::string& path)
      : path_(path),
        file_(FolderOf(path), path_, true),
        deflater_(file_, true),
        xml_(*this),
        rows_(book, path_, xml_) {}

  void Write(const std::string& sheetName, const Row& row) {
    rows_.sheetName = sheetName;
    rows_.Write(row);
  }

  void Data(const char* data, std::size_t n) override {
    size_ += n;
    crc_ = Crc(crc_, data, n);
    deflater_.Feed(data, n);
    open_ = true;
  }

  // Everything written so far, as a segment of the sheet's entry in `zip`.
  void SpliceInto(ZipWriter& zip) {
    xml_.Send();
    if (open_) deflater_.EndSegment(false);
    open_ = false;
    zip.Splice(file_, size_, crc_);
  }

 private:
  std::string path_;
  OutFile file_;
  Deflater deflater_;
  Xml xml_;
  RowXml rows_;
  std::uint64_t size_ = 0;
  std::uint32_t crc_ = 0;
  bool open_ = false;
};

// ---------------------------------------------------------------- writer

class XlsxStreamWriter::Impl {
 public:
  Impl(const Workbook& book, const std::string& file, const std::string& path)
      : book_(book),
        path_(path),
        out_(file, path),
        zip_(out_),
        xml_(zip_),
        rows_(book, path, xml_) {}

  void BeginSheet(const Sheet& layout, const Rect* used) {
    if (!ValidSheetName(layout.name) || !names_.insert(FoldCase(layout.name)).second)
      Fail(path_, Arg(Translate("workbook", "工作表名“%1”无效或重复。"), {layout.name}));
    sheets_.push_back({layout.name, layout.state});
    rows_.sheetName = layout.name;
    rows_.lastRow = 0;
    zip_.Begin("xl/worksheets/sheet" + std::to_string(sheets_.size()) + ".xml");
    Xml& x = xml_;
    x << kXmlHead << "<worksheet xmlns=\"" << kMainNs << "\" xmlns:r=\"" << kRelNs << "\">";
    if (used != nullptr) {
      x << "<dimension ref=\"";
      x.Ref(used->r1, used->c1);
      if (used->r2 != used->r1 || used->c2 != used->c1) x << ':', x.Ref(used->r2, used->c2);
      x << "\"/>";
    }
    x << "<sheetViews><sheetView ";
    // The first visible sheet is the one the workbook opens on.
    if (layout.state == SheetState::Visible && !selected_) {
      x << "tabSelected=\"1\" ";
      selected_ = true;
    }
    x << "workbookViewId=\"0\"";
    const std::uint32_t fr = std::min(layout.freezeRows, kMaxRows - 1);
    const std::uint32_t fc = std::min(layout.freezeCols, kMaxCols - 1);
    if (fr > 0 || fc > 0) {
      const char* pane = fr > 0 && fc > 0 ? "bottomRight" : fr > 0 ? "bottomLeft" : "topRight";
      x << "><pane";
      if (fc > 0) x << " xSplit=\"", x.Int(fc) << '"';
      if (fr > 0) x << " ySplit=\"", x.Int(fr) << '"';
      x << " topLeftCell=\"";
      x.Ref(fr + 1, fc + 1);
      x << "\" activePane=\"" << pane << "\" state=\"frozen\"/><selection pane=\"" << pane
        << "\"/></sheetView>";
    } else {
      x << "/>";
    }
    x << "</sheetViews><sheetFormatPr defaultRowHeight=\"";
    if (layout.defaultRowHeight > 0)
      x.Num(layout.defaultRowHeight) << "\" customHeight=\"1\"/>";
    else
      x << "15\"/>";
    if (!layout.columns.empty()) {
      x << "<cols>";
      for (auto it = layout.columns.begin(); it != layout.columns.end();) {
        auto end = std::next(it);
        std::uint32_t last = it->first;
        while (end != layout.columns.end() && end->first == last + 1 && end->second == it->second) {
          last = end->first;
          ++end;
        }
        x << "<col min=\"", x.Int(it->first) << "\" max=\"", x.Int(last) << "\" width=\"";
        x.Num(it->second.width) << '"';
        if (it->second.width > 0) x << " customWidth=\"1\"";
        if (it->second.hidden) x << " hidden=\"1\"";
        x << "/>";
        it = end;
      }
      x << "</cols>";
    }
    x << "<sheetData>";
  }

  void WriteRow(const Row& row) { rows_.Write(row); }

  void WriteSpilled(const Sheet& sheet) {
    if (!sheet.spill) return;
    if (rows_.lastRow >= sheet.spilled.first)
      Fail(path_, Arg(Translate("workbook", "工作表“%1”单元格 %2：%3"),
                      {sheet.name, CellRef(rows_.lastRow, 1), "row out of order"}));
    xml_.Send();
    sheet.spill->SpliceInto(zip_);
    rows_.lastRow = sheet.spilled.last;
  }

  void EndSheet(const std::vector<Rect>& merges) {
    Xml& x = xml_;
    x << "</sheetData>";
    if (!merges.empty()) {
      x << "<mergeCells count=\"", x.Int(merges.size()) << "\">";
      for (const Rect& m : merges) {
        x << "<mergeCell ref=\"";
        x.Ref(m.r1, m.c1) << ':';
        x.Ref(m.r2, m.c2) << "\"/>";
        x.Spill();
      }
      x << "</mergeCells>";
    }
    x << "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
         "footer=\"0.3\"/></worksheet>";
    x.Send();
    zip_.End();
  }

  void Finish() {
    if (sheets_.empty()) {  // a workbook holds at least one sheet
      Sheet blank;
      blank.name = "Sheet1";
      BeginSheet(blank, nullptr);
      EndSheet({});
    }
    WriteStyles();
    WritePackage();
    zip_.Finish();
    out_.Close();
  }

 private:
  struct SheetEntry {
    std::string name;
    SheetState state;
  };

  void ColorElement(const char* tag, Color c) {
    if (c == 0) return;
    xml_ << '<' << tag << ' ', xml_.Color(c) << "/>";
  }

  void WriteStyles() {
    zip_.Begin("xl/styles.xml");
    Xml& x = xml_;
    const auto& styles = book_.styles;
    // Custom number formats, fonts, fills and borders, each listed once.
    std::map<std::string, std::uint32_t> formats;
    std::vector<std::uint32_t> formatOf(styles.size()), fontOf(styles.size()),
        fillOf(styles.size()), borderOf(styles.size());
    std::vector<const Font*> fonts;
    std::vector<const Fill*> fills;
    std::vector<const Border*> borders;
    const Fill none{}, gray{17, 0, 0};
    const Border plain{};
    fills = {&none, &gray};
    borders = {&plain};
    auto index = [](auto& list, const auto& item, auto same) {
      for (std::size_t i = 0; i < list.size(); ++i)
        if (same(*list[i], item)) return static_cast<std::uint32_t>(i);
      list.push_back(&item);
      return static_cast<std::uint32_t>(list.size() - 1);
    };
    for (std::size_t i = 0; i < styles.size(); ++i) {
      const Style& s = styles[i];
      if (s.numFmtId == kCustomFormat) {
        const std::uint16_t builtin = BuiltinFormatId(s.numFmt);
        formatOf[i] = builtin != kCustomFormat
                          ? builtin
                          : formats.emplace(s.numFmt, 164 + formats.size()).first->second;
      } else {
        formatOf[i] = s.numFmtId;
      }
      fontOf[i] = index(fonts, s.font, SameFont);
      fillOf[i] = index(fills, s.fill, std::equal_to<Fill>());
      borderOf[i] = index(borders, s.border, std::equal_to<Border>());
    }
    x << kXmlHead << "<styleSheet xmlns=\"" << kMainNs << "\">";
    if (!formats.empty()) {
      x << "<numFmts count=\"", x.Int(formats.size()) << "\">";
      for (const auto& [code, id] : formats) {
        x << "<numFmt numFmtId=\"", x.Int(id) << "\" formatCode=\"";
        x.Text(code, true) << "\"/>";
      }
      x << "</numFmts>";
    }
    x << "<fonts count=\"", x.Int(fonts.size()) << "\">";
    for (const Font* f : fonts) {
      x << "<font>";
      FontBody(x, *f, "name");
      x << "</font>";
      x.Spill();
    }
    static constexpr const char* kPatterns[] = {
        "none",           "solid",           "mediumGray",    "darkGray",  "lightGray",
        "darkHorizontal", "darkVertical",    "darkDown",      "darkUp",    "darkGrid",
        "darkTrellis",    "lightHorizontal", "lightVertical", "lightDown", "lightUp",
        "lightGrid",      "lightTrellis",    "gray125",       "gray0625"};
    x << "</fonts><fills count=\"", x.Int(fills.size()) << "\">";
    for (const Fill* f : fills) {
      x << "<fill><patternFill patternType=\"" << kPatterns[std::min<int>(f->pattern, 18)] << '"';
      if (f->fg == 0 && f->bg == 0) {
        x << "/></fill>";
        continue;
      }
      x << '>';
      ColorElement("fgColor", f->fg);
      ColorElement("bgColor", f->bg);
      x << "</patternFill></fill>";
    }
    static constexpr const char* kLines[] = {"none",
                                             "thin",
                                             "medium",
                                             "dashed",
                                             "dotted",
                                             "thick",
                                             "double",
                                             "hair",
                                             "mediumDashed",
                                             "dashDot",
                                             "mediumDashDot",
                                             "dashDotDot",
                                             "mediumDashDotDot",
                                             "slantDashDot"};
    x << "</fills><borders count=\"", x.Int(borders.size()) << "\">";
    for (const Border* b : borders) {
      x << "<border";
      if (b->diagonalUp) x << " diagonalUp=\"1\"";
      if (b->diagonalDown) x << " diagonalDown=\"1\"";
      x << '>';
      const std::pair<const char*, const BorderLine*> sides[] = {{"left", &b->left},
                                                                 {"right", &b->right},
                                                                 {"top", &b->top},
                                                                 {"bottom", &b->bottom},
                                                                 {"diagonal", &b->diagonal}};
      for (const auto& [tag, line] : sides) {
        if (line->style == 0) {
          x << '<' << tag << "/>";
          continue;
        }
        x << '<' << tag << " style=\"" << kLines[std::min<int>(line->style, 13)] << "\">";
        if (line->color != 0)
          ColorElement("color", line->color);
        else
          x << "<color auto=\"1\"/>";
        x << "</" << tag << '>';
      }
      x << "</border>";
      x.Spill();
    }
    x << "</borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
         "borderId=\"0\"/></cellStyleXfs>";
    static constexpr const char* kHorizontal[] = {
        "general", "left", "center", "right", "fill", "justify", "centerContinuous", "distributed"};
    static constexpr const char* kVertical[] = {"bottom", "top", "center", "justify",
                                                "distributed"};
    x << "<cellXfs count=\"", x.Int(styles.size()) << "\">";
    const Alignment straight{};
    for (std::size_t i = 0; i < styles.size(); ++i) {
      const Style& s = styles[i];
      x << "<xf numFmtId=\"", x.Int(formatOf[i]) << "\" fontId=\"",
          x.Int(fontOf[i]) << "\" fillId=\"", x.Int(fillOf[i]) << "\" borderId=\"",
          x.Int(borderOf[i]) << "\" xfId=\"0\"";
      if (formatOf[i] != 0) x << " applyNumberFormat=\"1\"";
      if (fontOf[i] != 0) x << " applyFont=\"1\"";
      if (fillOf[i] != 0) x << " applyFill=\"1\"";
      if (borderOf[i] != 0) x << " applyBorder=\"1\"";
      const bool aligned = !(s.align == straight);
      const bool guarded = !s.locked || s.hidden;
      if (aligned) x << " applyAlignment=\"1\"";
      if (guarded) x << " applyProtection=\"1\"";
      if (!aligned && !guarded) {
        x << "/>";
        continue;
      }
      x << '>';
      if (aligned) {
        const Alignment& a = s.align;
        x << "<alignment";
        if (a.horizontal != 0)
          x << " horizontal=\"" << kHorizontal[std::min<int>(a.horizontal, 7)] << '"';
        if (a.vertical != 0) x << " vertical=\"" << kVertical[std::min<int>(a.vertical, 4)] << '"';
        if (a.rotation > 0)
          x << " textRotation=\"", x.Int(static_cast<unsigned>(a.rotation)) << '"';
        if (a.wrap) x << " wrapText=\"1\"";
        if (a.indent != 0) x << " indent=\"", x.Int(a.indent) << '"';
        if (a.shrink) x << " shrinkToFit=\"1\"";
        x << "/>";
      }
      if (guarded) {
        x << "<protection";
        if (!s.locked) x << " locked=\"0\"";
        if (s.hidden) x << " hidden=\"1\"";
        x << "/>";
      }
      x << "</xf>";
      x.Spill();
    }
    x << "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" "
         "builtinId=\"0\"/></cellStyles><dxfs count=\"0\"/></styleSheet>";
    x.Send();
    zip_.End();
  }

  void WritePackage() {
    Xml& x = xml_;
    const std::size_t n = sheets_.size();
    // At least one sheet shows: the application refuses a workbook without.
    std::size_t active = n;
    for (std::size_t i = 0; i < n && active == n; ++i)
      if (sheets_[i].state == SheetState::Visible) active = i;
    if (active == n) {
      active = 0;
      sheets_[0].state = SheetState::Visible;
    }

    zip_.Begin("xl/workbook.xml");
    x << kXmlHead << "<workbook xmlns=\"" << kMainNs << "\" xmlns:r=\"" << kRelNs
      << "\"><workbookPr/><bookViews><workbookView";
    if (active > 0) x << " firstSheet=\"", x.Int(active) << "\" activeTab=\"", x.Int(active) << '"';
    x << "/></bookViews><sheets>";
    for (std::size_t i = 0; i < n; ++i) {
      x << "<sheet name=\"";
      x.Text(sheets_[i].name, true) << "\" sheetId=\"", x.Int(i + 1) << '"';
      if (sheets_[i].state == SheetState::Hidden) x << " state=\"hidden\"";
      if (sheets_[i].state == SheetState::VeryHidden) x << " state=\"veryHidden\"";
      x << " r:id=\"rId", x.Int(i + 1) << "\"/>";
      x.Spill();
    }
    x << "</sheets><calcPr calcId=\"0\" fullCalcOnLoad=\"1\"/></workbook>";
    x.Send();
    zip_.End();

    zip_.Begin("xl/_rels/workbook.xml.rels");
    x << kXmlHead
      << "<Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::size_t i = 0; i < n; ++i) {
      x << "<Relationship Id=\"rId",
          x.Int(i + 1) << "\" Type=\"" << kRelNs << "/worksheet\" Target=\"worksheets/sheet",
          x.Int(i + 1) << ".xml\"/>";
      x.Spill();
    }
    x << "<Relationship Id=\"rId",
        x.Int(n + 1) << "\" Type=\"" << kRelNs << "/styles\" Target=\"styles.xml\"/>";
    x << "</Relationships>";
    x.Send();
    zip_.End();

    zip_.Begin("_rels/.rels");
    x << kXmlHead
      << "<Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
         "Id=\"rId1\" Type=\""
      << kRelNs << "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
    x.Send();
    zip_.End();

    zip_.Begin("[Content_Types].xml");
    x << kXmlHead
      << "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/xl/workbook.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+"
         "xml\"/>"
         "<Override PartName=\"/xl/styles.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
    for (std::size_t i = 0; i < n; ++i) {
      x << "<Override PartName=\"/xl/worksheets/sheet", x.Int(i + 1)
                                                            << ".xml\" "
                                                               "ContentType=\"application/"
                                                               "vnd.openxmlformats-officedocument."
                                                               "spreadsheetml.worksheet+xml\"/>";
      x.Spill();
    }
    x << "</Types>";
    x.Send();
    zip_.End();
  }

  const Workbook& book_;
  const std::string& path_;
  OutFile out_;
  ZipWriter zip_;
  Xml xml_;
  std::vector<SheetEntry> sheets_;
  std::set<std::string> names_;
  RowXml rows_;
  bool selected_ = false;
};

XlsxStreamWriter::XlsxStreamWriter(const Workbook& book, const std::string& file,
                                   const std::string& path)
    : impl_(std::make_unique<Impl>(book, file, path)) {}
XlsxStreamWriter::~XlsxStreamWriter() = default;
void XlsxStreamWriter::BeginSheet(const Sheet& layout, const Rect* used) {
  impl_->BeginSheet(layout, used);
}
void XlsxStreamWriter::WriteRow(const Row& row) {
  impl_->WriteRow(row);
}
void XlsxStreamWriter::WriteSpilled(const Sheet& sheet) {
  impl_->WriteSpilled(sheet);
}
void XlsxStreamWriter::EndSheet(const std::vector<Rect>& merges) {
  impl_->EndSheet(merges);
}
void XlsxStreamWriter::Finish() {
  impl_->Finish();
}

void WriteXlsxInto(const Workbook& book, const std::string& file, const std::string& path) {
  XlsxStreamWriter writer(book, file, path);
  for (const auto& sheet : book.sheets) {
    Rect used;
    bool any = false;
    for (const Row& row : sheet->rows) {
      if (row.cells.empty()) continue;
      if (!any)
        used = {row.index, row.cells.front().col, row.index, row.cells.back().col}, any = true;
      used.r2 = row.index;
      used.c1 = std::min(used.c1, row.cells.front().col);
      used.c2 = std::max(used.c2, row.cells.back().col);
    }
    // The used area of a sheet with rows written out ahead is not known here.
    writer.BeginSheet(*sheet, any && !sheet->spill ? &used : nullptr);
    bool spliced = false;
    for (const Row& row : sheet->rows) {
      if (!spliced && sheet->spill && row.index > sheet->spilled.last) {
        writer.WriteSpilled(*sheet);
        spliced = true;
      }
      writer.WriteRow(row);
    }
    if (!spliced) writer.WriteSpilled(*sheet);
    writer.EndSheet(sheet->merges);
  }
  writer.Finish();
}

void SpillRows(const Workbook& book, Sheet& sheet, std::uint32_t from, std::uint32_t to,
               const std::string& path) {
  SpilledRows& sp = sheet.spilled;
  if (sheet.spill) from = sp.last + 1;
  if (to < from) return;
  if (!sheet.spill) {
    sheet.spill = std::make_shared<SheetSpill>(book, path);
    sp.first = from;
  }
  auto& rows = sheet.rows;
  const auto byIndex = [](const Row& row, std::uint32_t r) { return row.index < r; };
  const auto begin = std::lower_bound(rows.begin(), rows.end(), from, byIndex);
  const auto end = std::lower_bound(begin, rows.end(), to + 1, byIndex);
  for (auto it = begin; it != end; ++it) {
    sheet.spill->Write(sheet.name, *it);
    if (it->cells.empty()) continue;
    sp.lastCellRow = it->index;
    sp.lastColumn = std::max(sp.lastColumn, it->cells.back().col);
    sp.cells += it->cells.size();
  }
  rows.erase(begin, end);
  if (rows.capacity() > 4 * rows.size() + 1024) rows.shrink_to_fit();
  sp.last = to;
}

void WriteXlsx(const Workbook& book, const std::string& path) {
  PendingOutput out(path);
  WriteXlsxInto(book, out.tempPath(), path);
  out.Commit();
}

}  // namespace pw::xl

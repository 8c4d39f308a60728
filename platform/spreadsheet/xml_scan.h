#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pw::xl {

// What the scanner finds, in document order. Names and attribute values are
// NUL-terminated, values with their references resolved; `attrs` alternates
// names and values and ends with a null pointer.
class XmlEvents {
 public:
  virtual void Start(std::string_view name, const char** attrs) = 0;
  virtual void End(std::string_view name) = 0;
  // Character data, possibly in several pieces.
  virtual void Text(const char* s, std::size_t n) = 0;

 protected:
  ~XmlEvents() = default;
};

// A checking XML scanner for the UTF-8 documents workbook packages are made
// of, much faster than a general parser on sheets of many small cells. It
// refuses what a general parser refuses (tags that do not match, bad
// characters or references, text outside the root), without namespace
// processing. Documents it is not made for (another encoding, a document
// type declaration) are answered Unsupported before anything is reported,
// so the caller can give them to a general parser instead.
class XmlScanner {
 public:
  enum class Status { Ok, Unsupported, Error };

  explicit XmlScanner(XmlEvents& events) : events_(events) {}

  // Room for the next `n` bytes of the document; then call Parsed.
  char* Buffer(std::size_t n);
  // Scans the `n` bytes just placed in Buffer(); `last` once the document
  // is complete. Events are delivered from inside this call.
  Status Parsed(std::size_t n, bool last);

  // After an Error: what was wrong and on which line.
  const std::string& Error() const { return error_; }
  std::uint64_t Line() const { return errorLine_; }

 private:
  enum class Step { Done, More, Fail, Unsupported };

  Step Scan(bool last);
  Step Prolog(char*& p, char* e, bool last);
  Step StartTag(char*& p, char* e);
  Step EndTag(char*& p, char* e);
  Step Markup(char*& p, char* e);
  Step Content(char*& p, char* e, bool last);
  Step Fail(const char* at, const char* what);
  std::uint64_t LinesBefore(const char* at) const;

  XmlEvents& events_;
  std::vector<char> buf_ = std::vector<char>(1);  // never empty: its data is never null
  std::size_t begin_ = 0, end_ = 0;               // unscanned bytes
  std::uint64_t linesFed_ = 0;                    // line breaks in all bytes given so far
  bool prologDone_ = false, rootClosed_ = false, started_ = false, failed_ = false;
  std::string open_;                 // names of the open elements, one after another
  std::vector<std::size_t> openAt_;  // where each begins in open_
  std::vector<const char*> attrs_;
  std::vector<std::size_t> marks_;
  std::string error_;
  std::uint64_t errorLine_ = 0;
};

}  // namespace pw::xl

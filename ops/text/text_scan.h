#pragma once
// Fast passes over the bytes of a text: line feeds counted and found, lines
// copied with CR LF ends, and the head of a file read for its encoding.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pw::textscan {

// The number of line feeds (0x0A) in [p, end).
std::int64_t CountLineFeeds(const char* p, const char* end);

// Where a run of whole lines ends.
struct Run {
  const char* end;     // just after the last line feed taken, or the end of the range
  std::int64_t lines;  // line feeds taken
  bool bare;           // one of them has no CR before it
};

// Scans [p, end) up to and including its `want`-th line feed (want >= 1).
// `before` is the byte before `p` (anything but CR at the start of a file).
Run ScanLines(const char* p, const char* end, char before, std::int64_t want);

// Copies [p, end) up to and including its `want`-th line feed to `out`,
// putting a CR before every line feed that lacks one. `out` has room for
// twice the bytes of the range; it is moved past what was written.
Run CopyLinesWithCr(const char* p, const char* end, char before, std::int64_t want, char*& out);

// True when `head`, the start of a file without a byte-order mark, reads as
// UTF-16 of either byte order: it holds code units of ASCII text (a zero byte
// beside a printable one), no control characters or unpaired surrogates, and
// nearly every unit is a character of a living script. Text in a one-byte
// encoding with a stray zero byte reads as nonsense units instead.
bool LooksLikeUtf16(std::string_view head);

}  // namespace pw::textscan

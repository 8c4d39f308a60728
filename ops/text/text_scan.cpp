#include "ops/text/text_scan.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#define PW_TEXT_SSE2 1
#endif

namespace pw::textscan {

namespace {

#ifdef PW_TEXT_SSE2
[[gnu::always_inline]] inline __m128i Load(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

[[gnu::always_inline]] inline std::uint64_t Bits(__m128i equal) {
  return static_cast<unsigned>(_mm_movemask_epi8(equal));
}
#endif

}  // namespace

namespace {

// The line feeds of [p, end) and whether one lacks a CR before it; `before`
// is the byte before p. One pass without branches on the data.
Run Tally(const char* p, const char* end, char before) {
  Run run{end, 0, false};
  if (p == end) return run;
  if (*p == '\n') {
    run.lines = 1;
    run.bare = before != '\r';
  }
  const char* q = p + 1;
#ifdef PW_TEXT_SSE2
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
  __m128i bare = _mm_setzero_si128();
  while (end - q >= 16) {
    // Byte counters, summed before any can pass 255.
    __m128i counts = _mm_setzero_si128();
    for (int k = 0; k < 255 && end - q >= 16; ++k, q += 16) {
      const __m128i feeds = _mm_cmpeq_epi8(Load(q), lf);
      counts = _mm_sub_epi8(counts, feeds);
      bare = _mm_or_si128(bare, _mm_andnot_si128(_mm_cmpeq_epi8(Load(q - 1), cr), feeds));
    }
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    run.lines += _mm_extract_epi16(sums, 0) + _mm_extract_epi16(sums, 4);
  }
  run.bare = run.bare || _mm_movemask_epi8(bare) != 0;
#endif
  for (; q < end; ++q) {
    if (*q != '\n') continue;
    ++run.lines;
    run.bare = run.bare || q[-1] != '\r';
  }
  return run;
}

}  // namespace

std::int64_t CountLineFeeds(const char* p, const char* end) {
  return Tally(p, end, '\n').lines;
}

Run ScanLines(const char* p, const char* end, char before, std::int64_t want) {
  // Mostly the range holds fewer lines than wanted: one count settles it.
  if (Run all = Tally(p, end, before); all.lines < want) return all;
  Run run{end, 0, false};
  // The first byte alone: from the second on, the byte before is in the range.
  if (*p == '\n') {
    run.lines = 1;
    run.bare = before != '\r';
    if (want == 1) {
      run.end = p + 1;
      return run;
    }
  }
  const char* q = p + 1;
#ifdef PW_TEXT_SSE2
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
  for (; end - q >= 64; q += 64) {
    const __m128i v0 = Load(q), v1 = Load(q + 16), v2 = Load(q + 32), v3 = Load(q + 48);
    std::uint64_t feeds = Bits(_mm_cmpeq_epi8(v0, lf)) | Bits(_mm_cmpeq_epi8(v1, lf)) << 16 |
                          Bits(_mm_cmpeq_epi8(v2, lf)) << 32 | Bits(_mm_cmpeq_epi8(v3, lf)) << 48;
    if (feeds == 0) continue;
    const std::uint64_t crs = Bits(_mm_cmpeq_epi8(v0, cr)) | Bits(_mm_cmpeq_epi8(v1, cr)) << 16 |
                              Bits(_mm_cmpeq_epi8(v2, cr)) << 32 |
                              Bits(_mm_cmpeq_epi8(v3, cr)) << 48;
    // Bit i set: q[i] is a line feed without a CR before it.
    const std::uint64_t bare = feeds & ~(crs << 1 | (q[-1] == '\r' ? 1u : 0u));
    if (run.lines + 64 < want) {
      for (; feeds != 0; feeds &= feeds - 1) ++run.lines;
      run.bare = run.bare || bare != 0;
      continue;
    }
    for (; feeds != 0; feeds &= feeds - 1) {
      const int bit = __builtin_ctzll(feeds);
      ++run.lines;
      run.bare = run.bare || (bare >> bit & 1) != 0;
      if (run.lines == want) {
        run.end = q + bit + 1;
        return run;
      }
    }
  }
#endif
  for (; q < end; ++q) {
    if (*q != '\n') continue;
    ++run.lines;
    run.bare = run.bare || q[-1] != '\r';
    if (run.lines == want) {
      run.end = q + 1;
      return run;
    }
  }
  return run;
}

Run CopyLinesWithCr(const char* p, const char* end, char before, std::int64_t want, char*& out) {
  Run run{end, 0, false};
  char* o = out;
  // `before` stays the byte before p. Lines are copied 16 bytes at a time:
  // each chunk is stored whole and the output advances to its first line feed.
#ifdef PW_TEXT_SSE2
  const __m128i lf = _mm_set1_epi8('\n');
  while (end - p >= 16) {
    const __m128i v = Load(p);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
    const unsigned feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
    if (feeds == 0) {
      p += 16;
      o += 16;
      before = p[-1];
      continue;
    }
    const int at = __builtin_ctz(feeds);
    o += at;
    if ((at > 0 ? p[at - 1] : before) != '\r') {
      *o++ = '\r';
      run.bare = true;
    }
    *o++ = '\n';
    p += at + 1;
    before = '\n';
    if (++run.lines == want) {
      run.end = p;
      out = o;
      return run;
    }
  }
#endif
  for (; p < end; ++p) {
    if (*p == '\n') {
      if (before != '\r') {
        *o++ = '\r';
        run.bare = true;
      }
      *o++ = '\n';
      before = '\n';
      if (++run.lines == want) {
        run.end = p + 1;
        out = o;
        return run;
      }
      continue;
    }
    *o++ = *p;
    before = *p;
  }
  out = o;
  return run;
}

namespace {

// A character of a script or of the punctuation that texts are written in.
bool Plausible(unsigned u) {
  return (u >= 0x20 && u <= 0x7E) || (u >= 0x09 && u <= 0x0D) ||          // ASCII
         (u >= 0xA0 && u <= 0x24F) ||                                     // Latin
         (u >= 0x370 && u <= 0x52F) ||                                    // Greek, Cyrillic
         (u >= 0x590 && u <= 0x8FF) ||                                    // Hebrew, Arabic
         (u >= 0xE00 && u <= 0xE7F) ||                                    // Thai
         (u >= 0x2010 && u <= 0x2027) || (u >= 0x2030 && u <= 0x205E) ||  // punctuation
         (u >= 0x3000 && u <= 0x30FF) ||                                  // CJK marks, kana
         (u >= 0x3400 && u <= 0x4DBF) || (u >= 0x4E00 && u <= 0x9FFF) ||  // Han
         (u >= 0xAC00 && u <= 0xD7A3) ||                                  // Hangul
         (u >= 0xFF00 && u <= 0xFFEF);                                    // full width
}

bool ReadsAsUtf16(std::string_view head, bool bigEndian) {
  const std::size_t units = head.size() / 2;
  const auto unit = [&](std::size_t i) {
    const unsigned a = static_cast<unsigned char>(head[2 * i]);
    const unsigned b = static_cast<unsigned char>(head[2 * i + 1]);
    return bigEndian ? a << 8 | b : b << 8 | a;
  };
  std::size_t narrow = 0, odd = 0;  // units of one-byte text (the zero byte); nonsense units
  for (std::size_t i = 0; i < units; ++i) {
    const unsigned u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      // A surrogate pair; the head may end between its halves.
      if (i + 1 == units) break;
      const unsigned low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        ++i;
        continue;
      }
    }
    if (u <= 0xFF && Plausible(u)) ++narrow;
    if (!Plausible(u)) ++odd;
  }
  return narrow >= 2 && odd * 50 <= units;
}

}  // namespace

bool LooksLikeUtf16(std::string_view head) {
  return ReadsAsUtf16(head, false) || ReadsAsUtf16(head, true);
}

}  // namespace pw::textscan

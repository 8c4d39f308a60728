#pragma once
// The two toolbar link lines (Label28, Label29) take turns in their 20-pixel
// strip: every ten seconds the visible one scrolls out at the top while the
// other scrolls in from below, 2 pixels per step, until it rests at top 2.

namespace pw {

struct TickerState {
  int top28 = 4;   // Label28 starts in the strip
  int top29 = 22;  // Label29 waits just below it
  bool scrolling = false;
};

// Every ten seconds: a line above the strip goes back below it, and the
// scrolling starts.
constexpr TickerState TickerSlowTick(TickerState s) {
  if (s.top28 < 0) s.top28 = 22;
  if (s.top29 < 0) s.top29 = 22;
  s.scrolling = true;
  return s;
}

// Every 15 ms while scrolling: both lines move up; the scrolling stops when
// the incoming line rests at top 2.
constexpr TickerState TickerStep(TickerState s) {
  if (!s.scrolling) return s;
  s.top28 -= 2;
  s.top29 -= 2;
  const int incoming = s.top29 < s.top28 ? s.top28 : s.top29;
  if (incoming <= 2) s.scrolling = false;
  return s;
}

}  // namespace pw

#include "platform/translate.h"

#include <atomic>

namespace pw {
namespace {

std::atomic<TranslateHook> installed{nullptr};

}  // namespace

void SetTranslateHook(TranslateHook hook) {
  installed.store(hook);
}

std::string Translate(const char* context, const char* text) {
  const TranslateHook hook = installed.load();
  return hook != nullptr ? hook(context, text) : std::string(text);
}

std::string Arg(std::string_view pattern, std::initializer_list<TextArg> args) {
  std::string out;
  out.reserve(pattern.size() + 16);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
      const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
      if (n < args.size()) {
        out += (args.begin() + n)->text();
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

}  // namespace pw

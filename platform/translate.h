#pragma once
// Texts the user reads, in the language chosen at start. The Chinese text is
// the source: without a translation installed it is shown as written.
// Operations call Translate() with a context naming their area; the front end
// (window or command line) installs what looks the translation up.

#include <initializer_list>
#include <string>
#include <string_view>

// Marks a text for translation where it is written (a table entry), to be
// passed through Translate(context, text) where it is shown.
#define PW_TR_NOOP(context, text) text

namespace pw {

using TranslateHook = std::string (*)(const char* context, const char* text);

// Installs the look-up; nullptr shows the source texts again.
void SetTranslateHook(TranslateHook hook);

// `text` in the chosen language (UTF-8).
std::string Translate(const char* context, const char* text);

// One value for a %1..%9 place in a translated text.
class TextArg {
 public:
  TextArg(std::string_view text) : text_(text) {}
  TextArg(const std::string& text) : text_(text) {}
  TextArg(const char* text) : text_(text) {}
  TextArg(int n) : text_(std::to_string(n)) {}
  TextArg(long n) : text_(std::to_string(n)) {}
  TextArg(long long n) : text_(std::to_string(n)) {}
  TextArg(unsigned n) : text_(std::to_string(n)) {}
  TextArg(unsigned long n) : text_(std::to_string(n)) {}
  TextArg(unsigned long long n) : text_(std::to_string(n)) {}
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Puts args[0] where `pattern` says %1, args[1] at %2 and so on, in one pass
// (a value holding "%2" stays as it is). A place with no value is left as
// written.
std::string Arg(std::string_view pattern, std::initializer_list<TextArg> args);

}  // namespace pw

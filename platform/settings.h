#pragma once
// Keys of the settings file, read and written one at a time. The file is
// opened afresh for every access, so it is always current on disk.

#include <cstddef>
#include <string>

namespace pw {

// The longest value the store keeps, in characters: a longer one is cut to it
// when written, and a longer one written by hand is cut when read.
constexpr std::size_t kMaxSettingChars = 2047;

// `value` cut to kMaxSettingChars characters of UTF-8, on a character boundary.
std::string ClipSettingValue(const std::string& value);

// The stored value of `key` in `section`, or `fallback` when the file, the
// section or the key is missing. Section and key names ignore case. A file
// saved in GBK reads as well as one in UTF-8. Never fails.
std::string ReadSetting(const std::string& section, const std::string& key,
                        const std::string& fallback);

// Stores `value` (cut by ClipSettingValue) at once, creating the file, section or key as needed,
// and leaving every other line as it was. Answers false with `error` set when the file cannot be
// written; the old file then stays intact.
bool WriteSetting(const std::string& section, const std::string& key, const std::string& value,
                  std::string* error = nullptr);

// The same on an explicit file (used by the two above and by tests).
std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback);
bool WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value, std::string* error = nullptr);

}  // namespace pw

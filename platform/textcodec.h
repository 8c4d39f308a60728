#pragma once
// Byte texts from the outside world (file names, ini files saved by other
// programs) turned into UTF-8 for display, without losing the original bytes.

#include <string>
#include <string_view>

namespace pw {

bool IsValidUtf8(std::string_view bytes);

// GBK (code page 936) to UTF-8. Answers false when the bytes are not GBK.
bool GbkToUtf8(std::string_view bytes, std::string& out);

// UTF-8 text for showing `bytes`: the bytes themselves when they are UTF-8,
// else their GBK reading, else UTF-8 with U+FFFD for each bad byte.
std::string DisplayText(std::string_view bytes);

}  // namespace pw

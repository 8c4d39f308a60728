#pragma once
// Opening a file, a web address or a mail link with the desktop's default
// program. Every such request goes through here, so tests can replace it.

#include <functional>
#include <string>

namespace pw {

using ShellOpener = std::function<bool(const std::string& target)>;

// Hands `target` to the opener; the default one starts `xdg-open` detached.
bool ShellOpen(const std::string& target);

// Replaces the opener; an empty function restores the default.
void SetShellOpener(ShellOpener opener);

}  // namespace pw

#pragma once
// Where the program keeps its own files.

#include <string>

namespace pw {

// Folder of the running executable, with a trailing "/".
std::string ExecutableFolder();

// "Info.ini" beside the executable when that folder is writable, otherwise in
// the user's configuration folder ($XDG_CONFIG_HOME/plinthwick).
std::string SettingsFile();

// "Error.txt" by the same rule, otherwise in the user's data folder
// ($XDG_DATA_HOME/plinthwick).
std::string ErrorLogFile();

// "yanshi.swf", the demonstration shipped beside the executable.
std::string DemoFile();

// Makes every file above live in `folder` instead (tests, portable copies).
// An empty folder restores the normal rule.
void SetAppFolderOverride(const std::string& folder);

}  // namespace pw

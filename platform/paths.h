#pragma once
// Where the program keeps its own files.

#include <string>

namespace pw {

// Folder of the running executable, with a trailing "/".
std::string ExecutableFolder();

// Whether the program keeps its own files beside an executable in
// `exeFolder`: only a copy run where it was built (a "CMakeCache.txt" in that
// folder, its parent or its grandparent) or a portable copy (a file named
// "portable" beside the executable) does, and only while that folder is
// writable. An installed copy never writes into its installation folder,
// whoever runs it.
bool AppFilesBesideExecutable(const std::string& exeFolder);

// "Info.ini" beside the executable when AppFilesBesideExecutable, otherwise in
// the user's configuration folder ($XDG_CONFIG_HOME/plinthwick).
std::string SettingsFile();

// "Error.txt" by the same rule, otherwise in the user's data folder
// ($XDG_DATA_HOME/plinthwick).
std::string ErrorLogFile();

// A file the program runs or loads beside itself (the database reading
// program, the office agent): in the helper folder of an installed copy
// (PW_HELPER_DIR, relative to the executable's folder), else beside the
// executable (a portable copy), else, for a copy run where it was built,
// `builtPath`. Answers the installed place when none of them has it, so that
// the error names where it belongs.
std::string HelperFile(const std::string& name, const std::string& builtPath);

// Makes every file above live in `folder` instead (tests, portable copies).
// An empty folder restores the normal rule.
void SetAppFolderOverride(const std::string& folder);

}  // namespace pw

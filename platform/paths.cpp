#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace pw {
namespace {

std::mutex overrideMutex;
std::string appFolderOverride;

std::string Override() {
  std::lock_guard lock(overrideMutex);
  return appFolderOverride;
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string XdgFolder(const char* variable, const char* fallbackUnderHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return WithSlash(value) + "plinthwick/";
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr ? home : "/tmp";
  return WithSlash(base) + fallbackUnderHome + "/plinthwick/";
}

bool Exists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

// The executable's folder for a build tree or a portable copy, else the XDG
// folder (created on demand).
std::string AppFileIn(const char* name, const char* xdgVariable, const char* xdgFallback) {
  if (std::string folder = Override(); !folder.empty()) return WithSlash(folder) + name;
  const std::string exeFolder = ExecutableFolder();
  if (AppFilesBesideExecutable(exeFolder)) return exeFolder + name;
  const std::string folder = XdgFolder(xdgVariable, xdgFallback);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder + name;
}

}  // namespace

std::string ExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return WithSlash(exe.parent_path().string());
}

bool AppFilesBesideExecutable(const std::string& exeFolder) {
  if (exeFolder.empty() || access(exeFolder.c_str(), W_OK) != 0) return false;
  std::string trimmed = exeFolder;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::filesystem::path folder(trimmed);
  if (Exists(folder / "portable")) return true;
  for (int level = 0; level < 3; ++level) {
    if (Exists(folder / "CMakeCache.txt")) return true;
    if (!folder.has_relative_path()) break;
    folder = folder.parent_path();
  }
  return false;
}

std::string SettingsFile() {
  return AppFileIn("Info.ini", "XDG_CONFIG_HOME", ".config");
}

std::string ErrorLogFile() {
  return AppFileIn("Error.txt", "XDG_DATA_HOME", ".local/share");
}

std::string DemoFile() {
  if (std::string folder = Override(); !folder.empty()) return WithSlash(folder) + "yanshi.swf";
  return ExecutableFolder() + "yanshi.swf";
}

void SetAppFolderOverride(const std::string& folder) {
  std::lock_guard lock(overrideMutex);
  appFolderOverride = folder;
}

}  // namespace pw

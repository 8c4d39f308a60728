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

// Whether `folder` (no trailing "/") is a build tree's: a "CMakeCache.txt" in
// it, its parent or its grandparent.
bool InBuildTree(std::filesystem::path folder) {
  for (int level = 0; level < 3; ++level) {
    if (Exists(folder / "CMakeCache.txt")) return true;
    if (!folder.has_relative_path()) break;
    folder = folder.parent_path();
  }
  return false;
}

std::string WithoutSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
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
  const std::filesystem::path folder(WithoutSlash(exeFolder));
  return Exists(folder / "portable") || InBuildTree(folder);
}

std::string HelperFile(const std::string& name, const std::string& builtPath) {
  const std::string exeFolder = ExecutableFolder();
  if (exeFolder.empty()) return builtPath;
  const std::string installed =
      std::filesystem::path(exeFolder + PW_HELPER_DIR + "/" + name).lexically_normal().string();
  if (Exists(installed)) return installed;
  if (Exists(exeFolder + name)) return exeFolder + name;
  if (InBuildTree(WithoutSlash(exeFolder))) return builtPath;
  return installed;
}

std::string SettingsFile() {
  return AppFileIn("Info.ini", "XDG_CONFIG_HOME", ".config");
}

std::string ErrorLogFile() {
  return AppFileIn("Error.txt", "XDG_DATA_HOME", ".local/share");
}

void SetAppFolderOverride(const std::string& folder) {
  std::lock_guard lock(overrideMutex);
  appFolderOverride = folder;
}

}  // namespace pw

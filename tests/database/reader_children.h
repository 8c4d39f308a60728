#pragma once
// The reading programs this process has running (see MdbFile), found
// through /proc.

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace pw::db::test {

inline std::vector<pid_t> ReaderChildren() {
  std::vector<pid_t> out;
  const std::string self = std::to_string(getpid());
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "stat");
    const std::string stat{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || stat.find("(plinthwick-mdb") == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string state, ppid;
    rest >> state >> ppid;
    if (ppid == self && state != "Z") out.push_back(static_cast<pid_t>(std::stoi(name)));
  }
  return out;
}

}  // namespace pw::db::test

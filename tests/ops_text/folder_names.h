#pragma once
// What a folder holds, to check that a run left exactly the files it should.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace pw::test {

// The names in `folder`, sorted; hidden ones (written under a temporary name) included.
inline std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace pw::test

#pragma once
// Removing a finished source so that the user can get it back: it goes to the
// desktop's trash (freedesktop.org trash); only where no trash can be had is
// it deleted outright.

#include <cstdint>
#include <string>

#include "platform/run_errors.h"

namespace pw {

// Which file a path named when it was looked at: a file renamed over the
// path later is another file.
struct FileIdentity {
  std::uint64_t device = 0, inode = 0;
  bool known = false;
  bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentifyFile(const std::string& path);

// Moves `path` to the trash, or deletes it where no trash can be had. With an
// `expected` identity, a file that is no longer that one is left where it is
// (`Replaced`), checked again once it sits in the trash.
RemoveOutcome RemoveSourceFile(const std::string& path, const FileIdentity& expected = {});

}  // namespace pw

#pragma once
// The command line of plinthwick-cli mapped onto the options the window's
// controls would set.

#include <stdexcept>
#include <string>
#include <vector>

#include "batch/runner.h"

namespace pw::cli {

struct CommandLine {
  bool help = false;
  bool dryRun = false;  // list what would be written, write nothing
  bool json = false;    // one machine-readable summary on standard output at the end
  bool quiet = false;   // only warnings and errors on standard error
  TaskMode mode = TaskMode::None;
  TaskKind kind = TaskKind::None;
  std::vector<std::string> files;  // absolute paths, in the order given
  // Where a merge writes: the output folder and the new document's name
  // (OutputBase is the two joined). A split leaves the name empty.
  std::string outputFolder;
  std::string newDocumentName;
  TaskOptions options;
};

// A command line that cannot be carried out as written (exit status 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Relative paths are taken from `workingFolder` (empty: the current folder).
CommandLine ParseCommandLine(int argc, const char* const argv[],
                             const std::string& workingFolder = {});

// The text of --help, listing every option of every kind.
std::string UsageText();

// Whether the operations of `kind` exist yet.
bool KindAvailable(TaskKind kind);

}  // namespace pw::cli

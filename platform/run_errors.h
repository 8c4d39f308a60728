#pragma once
// What an engine shares with whoever runs it: how a run ends early, how a
// stop is asked for, and what became of a removed source. Engines throw and
// test these; they know nothing of runs, lists or windows.

#include <atomic>
#include <stdexcept>
#include <string>

namespace pw {

// A stop request, set from another thread (the window's stop command, Ctrl-C)
// and tested by long work between steps.
using StopFlagRef = const std::atomic<bool>*;

inline bool StopRequestedBy(StopFlagRef flag) {
  return flag != nullptr && flag->load();
}

// How a source was disposed of after its run. `Replaced`: another file took
// the source's name during the run; it was not the file processed and stays.
enum class RemoveOutcome { Trashed, Deleted, Failed, Replaced };

// A run ends early with one of these. `Validation` is a fault in the options
// (an empty or invalid count): shown as a plain message, nothing written for
// the file named. `Failure` is a file that could not be processed.
class RunError : public std::runtime_error {
 public:
  enum class Kind { Validation, Failure };
  RunError(Kind kind, std::string file, const std::string& message)
      : std::runtime_error(message), kind_(kind), file_(std::move(file)) {}
  Kind kind() const { return kind_; }
  const std::string& file() const { return file_; }

 private:
  Kind kind_;
  std::string file_;
};

}  // namespace pw

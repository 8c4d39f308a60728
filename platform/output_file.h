#pragma once
// An output file that appears whole or not at all. It is written under a
// hidden temporary name in its own target folder and renamed over its final
// name only once complete and flushed; a failure, a stop or a kill leaves no
// file under a final name that looks complete. Two runs writing the same
// name give one whole winner.

#include <string>
#include <vector>

namespace pw {

class PendingOutput {
 public:
  // Picks the temporary name beside `finalPath`; creates nothing yet.
  explicit PendingOutput(std::string finalPath);
  // Removes the temporary file unless it was committed.
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;
  PendingOutput(PendingOutput&& other) noexcept;
  PendingOutput& operator=(PendingOutput&& other) noexcept;

  const std::string& finalPath() const { return final_; }
  // Where to write. Ends with the final file name, so its extension is kept
  // for writers that choose a format by it.
  const std::string& tempPath() const { return temp_; }

  // Flushes the temporary file to disk, renames it over the final name and
  // flushes the folder. Throws RunError naming the final path.
  void Commit();
  // Removes the temporary file (or nothing, when it was never made).
  void Discard();
  bool committed() const { return committed_; }

 private:
  friend void CommitTogether(std::vector<PendingOutput>& outputs);
  std::string final_, temp_;
  bool committed_ = false;
};

// Commits several outputs at once (the parts of one source): one flush of the
// file system instead of one per file, then the renames, then one flush of
// each folder. Throws RunError naming the first output that could not be
// named; those renamed before it stay committed.
void CommitTogether(std::vector<PendingOutput>& outputs);

// True for the temporary names above: the folder scan leaves them out.
bool IsPendingOutputName(const std::string& fileName);

// Removes the temporary files that runs ended by a kill left in `folder`
// (their process is gone). Each folder is looked at once per process.
void SweepStalePendingOutputs(const std::string& folder);

// Flushes `path` to disk; answers errno, or 0.
int SyncFile(const std::string& path);

// A file in `folder` with no name, gone once closed: scratch space that a
// killed program cannot leave behind. Answers the descriptor, or -1 with
// errno set. Where the file system cannot make one, a named file is made and
// unlinked at once.
int OpenUnnamedFile(const std::string& folder);

}  // namespace pw

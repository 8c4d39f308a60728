#pragma once
// Steps the document merge and split share (this folder only).

#include <string>

#include "batch/run.h"
#include "platform/office/office_server.h"

namespace pw::document {

// A failure of the office server as the run reports it.
[[noreturn]] void Fail(const OfficeError& e);

// Starts and stops the progress bar around an operation, on every way out.
class ProgressScope {
 public:
  ProgressScope(RunReporter& reporter, std::size_t files);
  ~ProgressScope();
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  RunReporter& reporter_;
};

// What the run says of a source with `lost` tracked changes (formatting,
// table or outside the main text) that arrive as if accepted.
std::string LostChanges(const std::string& source, int lost);

// The path a document saved as `path` gets: ".docx" is added unless the name
// ends in a document extension.
std::string DocumentPath(const std::string& path);

}  // namespace pw::document

#include "ops/text/text_ops.h"

namespace pw {

void MergeTextFiles(RunState&, const CommonOptions&, RunReporter&) {
  throw RunError(RunError::Kind::Failure, {}, "not available yet");
}

}  // namespace pw

#include "ops/text/text_ops.h"

namespace pw {

void SplitTextFiles(RunState&, const TextSplitOptions&, const CommonOptions&, RunReporter&) {
  throw RunError(RunError::Kind::Failure, {}, "not available yet");
}

}  // namespace pw

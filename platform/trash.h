#pragma once
// Removing a finished source so that the user can get it back: it goes to the
// desktop's trash (freedesktop.org trash); only where no trash can be had is
// it deleted outright.

#include <string>

#include "platform/run_errors.h"

namespace pw {

RemoveOutcome RemoveSourceFile(const std::string& path);

}  // namespace pw

#pragma once
#include <string>

namespace pw {

// A user-facing cause for a failed system call, in the window's language.
std::string DescribeErrno(int err);

// "无法<action>“<file>”：<cause>" with the file shown as well as it can be.
std::string FileErrorText(const std::string& action, const std::string& file, int err);

}  // namespace pw

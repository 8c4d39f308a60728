#pragma once
#include <string>

namespace pw {

// A user-facing cause for a failed system call, in the window's language.
// `writing` words a refused permission as a missing write permission.
std::string DescribeErrno(int err, bool writing = false);

// "无法<action>“<file>”：<cause>" with the file shown as well as it can be.
// Actions that change the disk (写入, 创建, 保存, 替换, 删除, 移动…) take the
// writing form of the cause.
std::string FileErrorText(const std::string& action, const std::string& file, int err);

}  // namespace pw

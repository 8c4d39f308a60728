#include "platform/errors.h"

#include <cerrno>
#include <cstring>

#include "platform/textcodec.h"

namespace pw {

std::string DescribeErrno(int err) {
  switch (err) {
    case ENOENT:
      return "文件或文件夹不存在";
    case EACCES:
    case EPERM:
      return "没有访问权限";
    case ENOSPC:
      return "磁盘空间不足";
    case EISDIR:
      return "这是一个文件夹";
    case EROFS:
      return "磁盘是只读的";
    case EDQUOT:
      return "超出磁盘配额";
    case EIO:
      return "读写错误";
    case ENAMETOOLONG:
      return "文件名太长";
    case EMFILE:
    case ENFILE:
      return "打开的文件太多";
    case EBUSY:
    case ETXTBSY:
      return "文件正被占用";
    default:
      return std::strerror(err);
  }
}

std::string FileErrorText(const std::string& action, const std::string& file, int err) {
  return "无法" + action + "“" + DisplayText(file) + "”：" + DescribeErrno(err);
}

}  // namespace pw

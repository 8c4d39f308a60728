#include "platform/errors.h"

#include <cerrno>
#include <cstring>

#include "platform/textcodec.h"

namespace pw {

std::string DescribeErrno(int err, bool writing) {
  switch (err) {
    case ENOENT:
      return "文件或文件夹不存在";
    case ENOTDIR:
      return "路径中的某一级不是文件夹";
    case EACCES:
    case EPERM:
      return writing ? "没有写入权限" : "没有访问权限";
    case ENOSPC:
      return "磁盘空间不足";
    case EDQUOT:
      return "超出磁盘配额";
    case EFBIG:
      return "文件太大";
    case EROFS:
      return "磁盘是只读的";
    case EISDIR:
      return "这是一个文件夹";
    case EEXIST:
      return "同名的文件已存在";
    case ENOTEMPTY:
      return "文件夹不是空的";
    case EXDEV:
      return "不能跨磁盘移动";
    case EIO:
      return "读写错误";
    case ENAMETOOLONG:
      return "文件名太长";
    case ELOOP:
      return "符号链接层数太多";
    case EMFILE:
    case ENFILE:
      return "打开的文件太多";
    case ENOMEM:
      return "内存不足";
    case EBUSY:
    case ETXTBSY:
      return "文件正被占用";
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      return "设备不存在或已移除";
    case ESTALE:
    case ENOTCONN:
    case EHOSTDOWN:
    case ETIMEDOUT:
      return "网络磁盘连接中断";
    default:
      return "系统错误（" + std::string(std::strerror(err)) + "）";
  }
}

std::string FileErrorText(const std::string& action, const std::string& file, int err) {
  static const char* const kWriteWords[] = {"写",   "创建", "保存",   "替换",
                                            "删除", "移动", "重命名", "复制"};
  bool writing = false;
  for (const char* word : kWriteWords) writing = writing || action.find(word) != std::string::npos;
  return "无法" + action + "“" + DisplayText(file) + "”：" + DescribeErrno(err, writing);
}

}  // namespace pw

#include "platform/errors.h"

#include <cerrno>
#include <cstring>

#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {

std::string DescribeErrno(int err, bool writing) {
  switch (err) {
    case ENOENT:
      return Translate("errors", "文件或文件夹不存在");
    case ENOTDIR:
      return Translate("errors", "路径中的某一级不是文件夹");
    case EACCES:
    case EPERM:
      return writing ? Translate("errors", "没有写入权限") : Translate("errors", "没有访问权限");
    case ENOSPC:
      return Translate("errors", "磁盘空间不足");
    case EDQUOT:
      return Translate("errors", "超出磁盘配额");
    case EFBIG:
      return Translate("errors", "文件太大");
    case EROFS:
      return Translate("errors", "磁盘是只读的");
    case EISDIR:
      return Translate("errors", "这是一个文件夹");
    case EEXIST:
      return Translate("errors", "同名的文件已存在");
    case ENOTEMPTY:
      return Translate("errors", "文件夹不是空的");
    case EXDEV:
      return Translate("errors", "不能跨磁盘移动");
    case EIO:
      return Translate("errors", "读写错误");
    case ENAMETOOLONG:
      return Translate("errors", "文件名太长");
    case ELOOP:
      return Translate("errors", "符号链接层数太多");
    case EMFILE:
    case ENFILE:
      return Translate("errors", "打开的文件太多");
    case ENOMEM:
      return Translate("errors", "内存不足");
    case EBUSY:
    case ETXTBSY:
      return Translate("errors", "文件正被占用");
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      return Translate("errors", "设备不存在或已移除");
    case ESTALE:
    case ENOTCONN:
    case EHOSTDOWN:
    case ETIMEDOUT:
      return Translate("errors", "网络磁盘连接中断");
    default:
      return Arg(Translate("errors", "系统错误（%1）"), {std::strerror(err)});
  }
}

namespace {

// The actions callers name, each with its translation.
constexpr const char* kActions[] = {
    PW_TR_NOOP("errors", "打开"),         PW_TR_NOOP("errors", "读取"),
    PW_TR_NOOP("errors", "写入"),         PW_TR_NOOP("errors", "创建"),
    PW_TR_NOOP("errors", "保存"),         PW_TR_NOOP("errors", "替换"),
    PW_TR_NOOP("errors", "删除"),         PW_TR_NOOP("errors", "移动"),
    PW_TR_NOOP("errors", "重命名"),       PW_TR_NOOP("errors", "复制"),
    PW_TR_NOOP("errors", "打开数据库"),   PW_TR_NOOP("errors", "读取数据库"),
    PW_TR_NOOP("errors", "写入数据库"),   PW_TR_NOOP("errors", "创建数据库"),
    PW_TR_NOOP("errors", "读取工作簿"),   PW_TR_NOOP("errors", "写入设置文件"),
    PW_TR_NOOP("errors", "写入错误日志"),
};

}  // namespace

std::string FileErrorText(const std::string& action, const std::string& file, int err) {
  static const char* const kWriteWords[] = {"写",   "创建", "保存",   "替换",
                                            "删除", "移动", "重命名", "复制"};
  bool writing = false;
  for (const char* word : kWriteWords) writing = writing || action.find(word) != std::string::npos;
  std::string shownAction = action;
  for (const char* known : kActions)
    if (action == known) shownAction = Translate("errors", known);
  return Arg(Translate("errors", "无法%1“%2”：%3"),
             {shownAction, DisplayText(file), DescribeErrno(err, writing)});
}

}  // namespace pw

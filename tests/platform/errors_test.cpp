#include "platform/errors.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <string>

#include "platform/settings.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

TEST(ErrorTexts, CommonCausesReadInPlainWords) {
  struct Case {
    std::string action;
    int err;
    std::string cause;
  };
  const Case cases[] = {
      {"写入", EACCES, "没有写入权限"},
      {"创建数据库", EPERM, "没有写入权限"},
      {"保存", EACCES, "没有写入权限"},
      {"替换", EACCES, "没有写入权限"},
      {"打开", EACCES, "没有访问权限"},
      {"读取", EPERM, "没有访问权限"},
      {"写入", ENOSPC, "磁盘空间不足"},
      {"写入", EDQUOT, "超出磁盘配额"},
      {"写入", EFBIG, "文件太大"},
      {"创建", EROFS, "磁盘是只读的"},
      {"打开", ENOENT, "文件或文件夹不存在"},
      {"打开", ENOTDIR, "路径中的某一级不是文件夹"},
      {"读取", EIO, "读写错误"},
      {"保存", ENAMETOOLONG, "文件名太长"},
      {"打开", EMFILE, "打开的文件太多"},
      {"替换", ETXTBSY, "文件正被占用"},
      {"写入", ESTALE, "网络磁盘连接中断"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FileErrorText(c.action, "/d/a.txt", c.err),
              "无法" + c.action + "“/d/a.txt”：" + c.cause)
        << c.err;
  // A cause without words of its own still says it is the system's.
  EXPECT_EQ(DescribeErrno(EPROTO).rfind("系统错误（", 0), 0u) << DescribeErrno(EPROTO);
}

// A real file-size limit: the settings writer reports the cause, not a code.
TEST(ErrorTexts, AFileSizeLimitReadsAsFileTooLarge) {
  test::TempDir dir;
  const std::string ini = dir.file("Info.ini");
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool written = WriteIniValue(ini, "main", "show1", std::string(100, 'x'), &error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &old, nullptr);
  EXPECT_FALSE(written);
  EXPECT_NE(error.find("文件太大"), std::string::npos) << error;
  EXPECT_NE(error.find("Info.ini"), std::string::npos) << error;
}

}  // namespace
}  // namespace pw

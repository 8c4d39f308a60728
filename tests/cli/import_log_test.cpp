#include "cli/import_log.h"

#include <gtest/gtest.h>

namespace pw::cli {
namespace {

std::string Entry(const std::string& message) {
  return "[出错时间] 2024/5/6 7:08:09\r\n[错误信息] " + message + "\r\n[出错记录]  ID：7；\r\n" +
         std::string(65, '*') + "\r\n";
}

// What the last line of a run says for the logs the merge and split write.
TEST(ImportLog, CountsTheRecordsTheLogSaysWereNotImported) {
  const std::pair<std::string, std::string> cases[] = {
      {Entry("数据库“a.mdb”中表“T”第3条记录出错，本表此后12条记录被跳过！") +
           Entry("数据库“b.mdb”中表“U”第9条记录出错，本表此后0条记录被跳过！"),
       "有 14 条记录未能导入，详见错误日志：/x/Error.txt"},
      {Entry("数据库“a.mdb”中表“T”第3条记录出错，本表此后2条记录被跳过！") +
           Entry("数据库“a_1.mdb”中表“T”第5条记录出错，本分割子表此后记录被跳过！"),
       "至少有 4 条记录未能导入（分割出的部分中出错记录之后的记录也被跳过），详见错误日志："
       "/x/Error.txt"},
      {"something else\r\n", "导入时有记录出错，详见错误日志：/x/Error.txt"},
      {"[未复制查询] 2024/5/6 7:08:09 数据库“a.mdb”中的未复制查询“Q”：…\r\n",
       "有 1 个查询未能复制，详见错误日志：/x/Error.txt"},
      {"[未复制查询] 2024/5/6 7:08:09 数据库“a.mdb”中的未复制查询“Q”：…\r\n" +
           Entry("数据库“a.mdb”中表“T”第3条记录出错，本表此后1条记录被跳过！"),
       "有 1 个查询未能复制，有 2 条记录未能导入，详见错误日志：/x/Error.txt"},
  };
  for (const auto& [log, note] : cases)
    EXPECT_EQ(ImportLogNote(SummarizeImportLog(log), "/x/Error.txt"), note);
}

}  // namespace
}  // namespace pw::cli

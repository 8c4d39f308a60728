#include "batch/preflight.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <set>
#include <utility>

#include "batch/contract.h"
#include "platform/errors.h"
#include "platform/filekind.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {
namespace {

[[noreturn]] void Refuse(RunError::Kind kind, const std::string& file, const std::string& text) {
  throw RunError(kind, file, text);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void CheckOutputFolder(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    Refuse(
        RunError::Kind::Validation, folder,
        Arg(Translate("batch", "保存目录“%1”不存在，请重新选择保存目录。"), {DisplayText(folder)}));
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    const int err = errno;
    Refuse(RunError::Kind::Validation, folder,
           Arg(Translate("batch", "无法在保存目录“%1”中写入文件：%2。请重新选择保存目录。"),
               {DisplayText(folder), DescribeErrno(err, true)}));
  }
}

FileContent ContentOfKind(TaskKind kind) {
  switch (kind) {
    case TaskKind::Document:
      return FileContent::WordDocument;
    case TaskKind::Workbook:
      return FileContent::Workbook;
    case TaskKind::Database:
      return FileContent::Database;
    case TaskKind::Text:
    case TaskKind::None:
      break;
  }
  return FileContent::Unknown;
}

void CheckContent(TaskKind kind, const std::string& path) {
  const FileContent wanted = ContentOfKind(kind);
  if (wanted == FileContent::Unknown) return;  // any bytes are text
  int err = 0;
  const FileContent found = SniffFileContent(path, err);
  if (err != 0) Refuse(RunError::Kind::Failure, path, FileErrorText("读取", path, err));
  if (found == wanted) return;
  Refuse(RunError::Kind::Failure, path,
         Arg(found == FileContent::Unknown
                 ? Translate("batch", "“%1”不是 %2：无法识别它的内容。没有处理任何文件。")
                 : Translate("batch", "“%1”不是 %2：它的内容是 %3。没有处理任何文件。"),
             {DisplayText(path), ContentName(wanted), ContentName(found)}));
}

}  // namespace

void CheckBeforeRun(TaskKind kind, TaskMode mode, RunState& run) {
  run.SourceIds.clear();
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> seen;
  for (std::size_t i = 0; i < run.WorkList.size(); ++i) {
    const std::string& path = run.WorkList[i];
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      const int err = errno;
      Refuse(RunError::Kind::Failure, path, FileErrorText("打开", path, err));
    }
    if (S_ISDIR(st.st_mode))
      Refuse(RunError::Kind::Failure, path, FileErrorText("打开", path, EISDIR));
    // A pipe, a device or a socket would block the run or never end.
    if (!S_ISREG(st.st_mode))
      Refuse(RunError::Kind::Failure, path,
             Arg(Translate("batch", "无法打开“%1”：这不是一个普通文件"), {DisplayText(path)}));
    const auto key = std::make_pair(static_cast<std::uint64_t>(st.st_dev),
                                    static_cast<std::uint64_t>(st.st_ino));
    if (const auto [it, fresh] = seen.emplace(key, i); !fresh)
      Refuse(RunError::Kind::Validation, path,
             Arg(run.WorkList[it->second] == path
                     ? Translate("batch", "“%1”在待处理的文件中出现了两次，请只选一次。")
                     : Translate("batch",
                                 "“%1”在待处理的文件中出现了两次（与“%2”是同一个文件），"
                                 "请只选一次。"),
                 {DisplayText(path), DisplayText(run.WorkList[it->second])}));
    run.SourceIds.push_back({key.first, key.second, true});
  }
  for (const std::string& path : run.WorkList) CheckContent(kind, path);

  // Merges and the document split write into the output folder, the other
  // splits beside each source.
  if (mode == TaskMode::Merge || kind == TaskKind::Document) {
    CheckOutputFolder(FolderOf(run.OutputBase));
  } else {
    std::set<std::string> folders;
    for (const std::string& path : run.WorkList)
      if (folders.insert(FolderOf(path)).second) CheckOutputFolder(FolderOf(path));
  }
}

}  // namespace pw

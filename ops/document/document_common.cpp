#include "ops/document/document_common.h"

#include <algorithm>

#include "batch/contract.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::document {

void Fail(const OfficeError& e) {
  throw RunError(RunError::Kind::Failure, e.file(), e.what());
}

ProgressScope::ProgressScope(RunReporter& reporter, std::size_t files) : reporter_(reporter) {
  reporter_.BeginProgress(ProgressStep(files));
}

ProgressScope::~ProgressScope() {
  reporter_.EndProgress();
}

std::string LostChanges(const std::string& source, int lost) {
  return Arg(Translate("ops",
                       "“%1”中有 %2 处修订（格式、表格或页眉页脚中的修订）无法保留为修订，"
                       "已按接受修订写入"),
             {DisplayText(FileNamePart(source)), lost});
}

std::string DocumentPath(const std::string& path) {
  const std::string name = FileNamePart(path);
  const std::size_t dot = name.find_last_of('.');
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".doc" || ext == ".docx" || ext == ".odt" || ext == ".rtf") return path;
  return path + ".docx";
}

}  // namespace pw::document

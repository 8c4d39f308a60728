#include "batch/contract.h"
#include "ops/document/document_common.h"
#include "ops/document/document_ops.h"
#include "platform/office/word.h"
#include "platform/output_file.h"
#include "platform/textcodec.h"

namespace pw {

namespace {
constexpr char kStopped[] = "用户强行退出，合并操作未完成！没有写入任何文件。";
}  // namespace

void MergeDocuments(RunState& run, const DocumentMergeOptions& options, const CommonOptions& common,
                    RunReporter& reporter) {
  using namespace word;
  const std::size_t count = run.WorkList.size();
  document::ProgressScope progress(reporter, count);
  const std::string output = document::DocumentPath(run.OutputBase);
  RefuseOutputOverSource(output, run);
  run.OutputBase = output;

  std::size_t merged = 0;
  try {
    OfficeServer server;
    WordApplication app(server);
    WordDocument& result = app.Documents().Add();
    WordSelection& selection = app.Selection();
    for (; merged < count; ++merged) {
      const std::string path = run.WorkList[merged];
      reporter.Status("正在合并文件： " + DisplayText(FileNamePart(path)));
      WordDocument& source = app.Documents().Open(path);
      selection.WholeStory();
      selection.Copy();
      source.Close();
      selection.EndKey();
      selection.Paste();
      selection.EndKey();
      if (options.pageBreak) selection.InsertBreak();
      if (options.paragraph) selection.TypeParagraph();
      reporter.Counter(static_cast<int>(merged));
      reporter.StepProgress();
      if (run.StopRequested()) {
        // Nothing is written, so every source stays where it is.
        reporter.Status(kStopped);
        return;
      }
    }
    reporter.Status("合并操作已完成，正在清理内存... ");
    // Saved under a hidden name beside the output, with the output's
    // extension (which chooses the format), and renamed into place whole.
    PendingOutput pending(output);
    result.SaveAs(pending.tempPath());
    if (run.StopRequested()) {
      reporter.Status(kStopped);
      return;  // the saved file goes with `pending`
    }
    pending.Commit();
    result.Close();
    app.Quit();
  } catch (const OfficeError& e) {
    document::Fail(e);
  }

  // Only now is every source's content safe in the merged document.
  for (std::size_t i = 0; i < count; ++i) {
    ReleaseEntry(run, common, reporter, static_cast<int>(i));
  }
  reporter.Status(std::to_string(count) + " 个文件合并生成新文件：" + DisplayText(output));
}

}  // namespace pw

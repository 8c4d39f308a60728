#include "batch/contract.h"
#include "ops/document/document_common.h"
#include "ops/document/document_ops.h"
#include "platform/office/word.h"
#include "platform/output_file.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {

namespace {
std::string Stopped() {
  return Translate("ops", "用户强行退出，合并操作未完成！没有写入任何文件。");
}
}  // namespace

void MergeDocuments(RunState& run, const DocumentMergeOptions& options, const CommonOptions& common,
                    RunReporter& reporter) {
  using namespace word;
  const std::size_t count = run.WorkList.size();
  document::ProgressScope progress(reporter, count);
  const std::string output = document::DocumentPath(run.OutputBase);
  RefuseOutputOverSource(output, run);
  run.OutputBase = output;

  std::size_t reported = 0;            // files counted on the progress bar
  std::size_t wentDownAt = count + 1;  // the file the office last went down on
  try {
    OfficeServer server;
    for (;;) {
      std::size_t i = 0;
      try {
        WordApplication app(server);
        WordDocument& result = app.Documents().Add();
        WordSelection& selection = app.Selection();
        for (; i < count; ++i) {
          const std::string path = run.WorkList[i];
          reporter.Status(Translate("ops", "正在合并文件： ") + DisplayText(FileNamePart(path)));
          WordDocument& source = app.Documents().Open(path);
          selection.WholeStory();
          selection.Copy();
          source.Close();
          selection.EndKey();
          if (const int lost = selection.Paste(); lost > 0 && i >= reported)
            reporter.Status(document::LostChanges(path, lost));
          selection.EndKey();
          if (options.pageBreak) selection.InsertBreak();
          if (options.paragraph) selection.TypeParagraph();
          if (i >= reported) {
            reporter.Counter(static_cast<int>(i));
            reporter.StepProgress();
            reported = i + 1;
          }
          if (run.StopRequested()) {
            // Nothing is written, so every source stays where it is.
            reporter.Status(Stopped());
            return;
          }
        }
        reporter.Status(Translate("ops", "合并操作已完成，正在清理内存... "));
        // Saved under a hidden name beside the output, with the output's
        // extension (which chooses the format), checked, and renamed into
        // place whole.
        PendingOutput pending(output);
        result.SaveAs(pending.tempPath());
        if (run.StopRequested()) {
          reporter.Status(Stopped());
          return;  // the saved file goes with `pending`
        }
        pending.Commit();
        // The merged document is in place: whatever becomes of the office
        // while it lets go of it takes nothing from the run.
        try {
          app.Quit();
        } catch (const OfficeError&) {
        }
        break;
      } catch (const OfficeError& e) {
        // The office went down: a fresh one merges again what was merged
        // so far and tries this file once more; a second time ends the run.
        if (server.Running() || wentDownAt == i) throw;
        wentDownAt = i;
        reporter.Status(
            Arg(Translate("ops", "%1，正在重新启动 LibreOffice 并重新合并"), {e.what()}));
        server.Shutdown();
      }
    }
  } catch (const OfficeError& e) {
    document::Fail(e);
  }

  // Only now is every source's content safe in the merged document.
  for (std::size_t i = 0; i < count; ++i) {
    ReleaseEntry(run, common, reporter, static_cast<int>(i));
  }
  reporter.Status(
      Arg(Translate("ops", "%1 个文件合并生成新文件：%2"), {count, DisplayText(output)}));
}

}  // namespace pw

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <vector>

#include "batch/contract.h"
#include "ops/document/document_common.h"
#include "ops/document/document_ops.h"
#include "platform/office/word.h"
#include "platform/output_file.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {

namespace {

using namespace word;

std::string Stopped() {
  return Translate("ops", "用户强行退出，操作未完成！");
}

struct Amount {
  const std::string* text;
  const char* emptyMessage;
};

// The count of the chosen way, checked before anything is opened or written.
int ReadAmount(const DocumentSplitOptions& options, const std::string& file) {
  const Amount amounts[] = {
      {&options.partsText, PW_TR_NOOP("ops", "请填写分割数量，只接受阿拉伯数字！")},
      {&options.pagesText, PW_TR_NOOP("ops", "请填写新文档页数，只接受阿拉伯数字！")},
      {&options.charactersText, PW_TR_NOOP("ops", "请填写新文档总字数，只接受阿拉伯数字！")},
  };
  const Amount& a = amounts[static_cast<int>(options.way)];
  if (TrimText(*a.text).empty())
    throw RunError(RunError::Kind::Validation, file, Translate("ops", a.emptyMessage));
  const int value = ParseCount(*a.text, file);
  if (value <= 0)
    throw RunError(RunError::Kind::Validation, file,
                   Arg(Translate("ops", "“%1”不是有效的数量，请填写大于 0 的数字！"),
                       {DisplayText(TrimText(*a.text))}));
  return value;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return a == b || (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 &&
                    sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino);
}

class Splitter {
 public:
  Splitter(WordApplication& app, RunState& run, RunReporter& reporter, std::string folder)
      : app_(&app), run_(run), reporter_(reporter), folder_(std::move(folder)) {}

  // Goes on with the application of a restarted server.
  void Rebind(WordApplication& app) {
    app_ = &app;
    source_ = nullptr;
  }

  // Writes the parts of one source. Answers false when a stop came between
  // two of its parts: the parts already written are removed again (Undone()
  // says how many), so a source is either split whole or not at all; a
  // failure removes them too before it travels on.
  bool Cut(const std::string& path, const DocumentSplitOptions& options, int amount) {
    path_ = path;
    name_ = FileNamePart(path);
    const std::size_t dot = name_.find_last_of('.');
    ext_ = dot == std::string::npos ? std::string() : name_.substr(dot);
    ChooseStem();
    written_.clear();
    outputBefore_ = run_.OutputBase;
    WordDocument& source = app_->Documents().Open(path);
    source_ = &source;
    part_ = 0;
    start_ = 0;
    firstRow_ = -1;
    rowsMoved_ = 0;
    try {
      CutInto(options, amount);
    } catch (const Interrupted&) {
      source.Close();
      source_ = nullptr;
      Undo();
      return false;
    } catch (...) {
      // A failure part way leaves no incomplete set of parts behind either,
      // nor anything open that the next source would find.
      Undo();
      source_ = nullptr;
      try {
        app_->Documents().Close();
      } catch (const OfficeError&) {
      }
      throw;
    }
    // Never saved: the source on disk stays exactly as it was.
    source.Close();
    source_ = nullptr;
    if (rowsMoved_ > 0)
      reporter_.Status(Arg(Translate("ops",
                                     "“%1”中有 %2 个表格行跨页，无法在页边界处拆开，"
                                     "已整行放入后一部分"),
                           {DisplayText(name_), rowsMoved_}));
    return true;
  }

  int Undone() const { return undone_; }

 private:
  struct Interrupted {};

  void CutInto(const DocumentSplitOptions& options, int amount) {
    WordSelection& selection = app_->Selection();
    switch (options.way) {
      case DocumentSplitOptions::Way::Parts: {
        const int n = amount;
        const int pages = selection.Information(wdNumberOfPagesInDocument);
        if (pages >= n) {
          const int per = pages / n;
          for (int k = 1; k <= n; ++k) k == n ? ToEnd() : ToPage(k * per + 1);
        } else {
          WordCountDialog count = app_->Dialogs().Item(wdDialogToolsWordCount);
          count.Execute();
          const int per = count.CharactersIncludingSpaces() / n;
          for (int k = 1; k <= n; ++k) k == n ? ToEnd() : ToPosition(k * per);
        }
        break;
      }
      case DocumentSplitOptions::Way::Pages: {
        const int p = amount;
        const int pages = selection.Information(wdNumberOfPagesInDocument);
        const int q = pages / p;
        const int last = pages % p == 0 ? q : q + 1;
        for (int k = 1; k <= last; ++k) k == last ? ToEnd() : ToPage(k * p + 1);
        break;
      }
      case DocumentSplitOptions::Way::Characters: {
        const int w = amount;
        WordCountDialog count = app_->Dialogs().Item(wdDialogToolsWordCount);
        count.Execute();
        const int chars = count.CharactersIncludingSpaces();
        const int q = chars / w;
        const int last = chars % w == 0 ? q : q + 1;
        for (int k = 1; k <= last; ++k) k == last ? ToEnd() : ToPosition(k * w);
        break;
      }
    }
  }

  // Parts are named after their source; a source named like one split
  // earlier in this run (from another folder) gets "(2)", "(3)"... after its
  // name, so no part of this run replaces another.
  void ChooseStem() {
    const std::string base = ChangeExtension(name_, "");
    stem_ = base;
    int n = 1;
    while (stems_.count(stem_ + ext_) != 0) stem_ = base + "(" + std::to_string(++n) + ")";
    stems_.insert(stem_ + ext_);
    if (n > 1)
      reporter_.Status(Arg(Translate("ops", "“%1”与之前的文件同名，新文件名加上“(%2)”"),
                           {DisplayText(name_), n}));
  }

  // Each part runs from where the last one ended, so nothing is lost or
  // repeated; a table cut at a page goes to both parts, each keeping its rows.
  void ToPage(int page) {
    const WordDocument::PageStart at = source_->StartOfPage(page);
    if (at.rowMoved) ++rowsMoved_;
    WritePart(at.end, at.next, at.row);
  }
  void ToPosition(int end) { WritePart(end, end, -1); }
  void ToEnd() {
    const int end = source_->Length();
    WritePart(end, end, -1);
  }

  void WritePart(int end, int next, int row) {
    if (run_.StopRequested()) throw Interrupted{};
    end = std::max(end, start_);
    WordDocument::Edges edges;
    edges.startsInParagraph = source_->InsideParagraph(start_);
    edges.endsInParagraph = source_->InsideParagraph(end);
    edges.firstTableStart = firstRow_;
    edges.lastTableEnd = row;
    ++part_;
    const std::string target =
        document::DocumentPath(folder_ + stem_ + "_" + std::to_string(part_) + ext_);
    for (const std::string& other : run_.WorkList)
      if (SameFile(TrimText(other), target))
        throw RunError(RunError::Kind::Failure, target,
                       Arg(Translate("ops",
                                     "分割生成的文件“%1”就是待分割的源文件之一，写入会毁掉它。"
                                     "请选择其他保存目录。"),
                           {DisplayText(target)}));
    source_->Range(start_, end).Select();
    WordSelection& selection = app_->Selection();
    selection.Copy();
    WordDocument& part = app_->Documents().Add();
    selection.EndKey();
    if (const int lost = selection.Paste(); lost > 0)
      reporter_.Status(document::LostChanges(path_, lost));
    part.FitPart(edges);
    // Saved under a hidden name with the part's extension (which chooses the
    // format) and renamed into place whole.
    PendingOutput pending(target);
    part.SaveAs(pending.tempPath());
    part.Close();
    pending.Commit();
    written_.push_back(target);
    run_.OutputBase = target;
    reporter_.Status(Translate("ops", " 新文件已生成：") + DisplayText(target));
    start_ = std::min(next, end);
    firstRow_ = row;
  }

  void Undo() {
    undone_ = 0;
    for (const std::string& file : written_)
      if (::unlink(file.c_str()) == 0) ++undone_;
    written_.clear();
    run_.OutputBase = outputBefore_;
  }

  WordApplication* app_;
  RunState& run_;
  RunReporter& reporter_;
  std::string folder_;
  std::string path_, name_, ext_, stem_;
  std::set<std::string> stems_;       // stem and extension of every source split so far
  std::vector<std::string> written_;  // parts of the current source
  std::string outputBefore_;
  WordDocument* source_ = nullptr;
  int part_ = 0;
  int start_ = 0;
  int firstRow_ = -1;  // the part being written starts in its first table at this row
  int rowsMoved_ = 0;  // rows of the current source that ran across a page where it was cut
  int undone_ = 0;
};

}  // namespace

void SplitDocuments(RunState& run, const DocumentSplitOptions& options, const CommonOptions& common,
                    RunReporter& reporter) {
  const std::size_t count = run.WorkList.size();
  const std::string first = count > 0 ? run.WorkList[0] : std::string();
  const int amount = ReadAmount(options, first);
  document::ProgressScope progress(reporter, count);
  const std::size_t slash = run.OutputBase.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : run.OutputBase.substr(0, slash + 1);
  // Sources the office could not cut, with why: the others are still split,
  // and the run ends naming every one of these.
  std::vector<OfficeError> failed;
  try {
    OfficeServer server;
    auto app = std::make_unique<WordApplication>(server);
    Splitter splitter(*app, run, reporter, folder);
    for (std::size_t i = 0; i < count; ++i) {
      const std::string path = run.WorkList[i];
      reporter.Status(Translate("ops", "正在分割文件： ") + DisplayText(FileNamePart(path)));
      try {
        if (!splitter.Cut(path, options, amount)) {
          const int undone = splitter.Undone();
          reporter.Status(
              undone == 0 ? Stopped()
                          : Stopped() + Arg(Translate("ops", "已撤销“%1”已生成的 %2 个新文件。"),
                                            {DisplayText(FileNamePart(path)), undone}));
          return;
        }
      } catch (const OfficeError& e) {
        // The parts of this source are undone already; the batch goes on.
        failed.push_back(
            e.file() == path ? e : OfficeError(path, PW_TR_NOOP("office", "分割"), e.what()));
        reporter.Status(failed.back().what());
        if (!server.Running()) {
          // The office went down on this file: a fresh one takes the rest.
          reporter.Status(Translate("ops", "正在重新启动 LibreOffice..."));
          app.reset();
          server.Shutdown();
          app = std::make_unique<WordApplication>(server);
          splitter.Rebind(*app);
        }
        continue;
      }
      // The source is closed and all its parts are written: it may go now.
      if (FinishEntry(run, common, reporter, static_cast<int>(i))) {
        reporter.Status(Stopped());
        return;
      }
    }
    reporter.Status(Translate("ops", "操作已完成，正在清理内存... "));
    app->Quit();
  } catch (const OfficeError& e) {
    document::Fail(e);
  }
  if (failed.size() == 1) document::Fail(failed.front());
  if (!failed.empty()) {
    std::string message =
        Arg(Translate("ops", "%1 个文件未能分割，其余文件已分割："), {failed.size()});
    for (const OfficeError& e : failed) message += "\n" + std::string(e.what());
    throw RunError(RunError::Kind::Failure, failed.front().file(), message);
  }
  reporter.Status(Arg(Translate("ops", "%1 个文件已被分割，并生成了新文件！"), {count}));
}

}  // namespace pw

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <tuple>
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

// Names the parts of each source after it, in list order: a source named
// like one before it in the list (from another folder) gets "(2)", "(3)"...
// after its name, so no part of this run replaces another. Answers each
// source's stem and what the run says of a changed one ("" when unchanged).
std::vector<std::pair<std::string, std::string>> ChooseStems(const std::vector<std::string>& list) {
  std::set<std::string> taken;  // stem and extension of every source before
  std::vector<std::pair<std::string, std::string>> stems;
  for (const std::string& path : list) {
    const std::string name = FileNamePart(path);
    const std::size_t dot = name.find_last_of('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    const std::string base = ChangeExtension(name, "");
    std::string stem = base;
    int n = 1;
    while (taken.count(stem + ext) != 0) stem = base + "(" + std::to_string(++n) + ")";
    taken.insert(stem + ext);
    stems.emplace_back(stem, n > 1
                                 ? Arg(Translate("ops", "“%1”与之前的文件同名，新文件名加上“(%2)”"),
                                       {DisplayText(name), n})
                                 : std::string());
  }
  return stems;
}

using Say = std::function<void(const std::string&)>;

class Splitter {
 public:
  Splitter(WordApplication& app, const RunState& run, const std::atomic<bool>& halt, Say say,
           std::string folder)
      : app_(&app), run_(run), halt_(halt), say_(std::move(say)), folder_(std::move(folder)) {}

  // Writes the parts of one source, named after `stem`. Answers false when a
  // stop came between two of its parts: the parts already written are removed
  // again (Undone() says how many), so a source is either split whole or not
  // at all; a failure removes them too before it travels on.
  bool Cut(const std::string& path, const std::string& stem, const DocumentSplitOptions& options,
           int amount) {
    path_ = path;
    name_ = FileNamePart(path);
    const std::size_t dot = name_.find_last_of('.');
    ext_ = dot == std::string::npos ? std::string() : name_.substr(dot);
    stem_ = stem;
    written_.clear();
    undone_ = 0;
    WordDocument& source = app_->Documents().Open(path);
    source_ = &source;
    part_ = 0;
    start_ = 0;
    firstRow_ = -1;
    firstCuts_.clear();
    rowsMoved_ = 0;
    nextAtPageTop_ = false;
    joined_ = 0;
    try {
      CutInto(options, amount);
    } catch (const Interrupted&) {
      Undo();
      source_ = nullptr;
      LetGo(source);
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
    // Never saved: the source on disk stays exactly as it was. Every part is
    // in place now, so an office that fails to let go of the source takes
    // nothing from them (a server that went down meanwhile is started afresh
    // before the next source).
    source_ = nullptr;
    LetGo(source);
    if (joined_ > 0)
      say_(Arg(Translate("ops",
                         "“%1”中有 %2 处分页落在无法拆开的表格内，"
                         "这些页已并入前一部分，生成的文件少于按页数计算的份数"),
               {DisplayText(name_), joined_}));
    if (rowsMoved_ > 0)
      say_(Arg(Translate("ops",
                         "“%1”中有 %2 个表格行跨页，无法在页边界处拆开，"
                         "已整行放入后一部分"),
               {DisplayText(name_), rowsMoved_}));
    return true;
  }

  const std::vector<std::string>& Written() const { return written_; }
  int Undone() const { return undone_; }

 private:
  struct Interrupted {};

  static void LetGo(WordDocument& doc) {
    try {
      doc.Close();
    } catch (const OfficeError&) {
    }
  }

  void CutInto(const DocumentSplitOptions& options, int amount) {
    WordSelection& selection = app_->Selection();
    switch (options.way) {
      case DocumentSplitOptions::Way::Parts: {
        const int n = amount;
        const int pages = selection.Information(wdNumberOfPagesInDocument);
        if (pages >= n) {
          const int per = pages / n;
          std::vector<int> starts;
          for (int k = 1; k < n; ++k) starts.push_back(k * per + 1);
          ToPages(starts);
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
        std::vector<int> starts;
        for (int k = 1; k < last; ++k) starts.push_back(k * p + 1);
        ToPages(starts);
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

  // Each part runs from where the last one ended, so nothing is lost or
  // repeated; a table cut at a page goes to both parts, each keeping its rows.
  // Every cut is found before the first part is written: copying a part out
  // may lay the source out anew, and pages found after that would no longer
  // be the pages the source has on its own. A page whose start cannot be cut
  // on its own (it starts inside a table that cannot be cut, behind a cut
  // already made, or at the very start or end) stays with the part before:
  // no part is ever empty, and no row or paragraph goes to two parts.
  void ToPages(const std::vector<int>& pages) {
    std::vector<WordDocument::PageStart> cuts;
    std::vector<int> cutPages;  // the page each cut starts
    cuts.reserve(pages.size());
    const int length = source_->Length();
    std::tuple<int, int, int> last{0, 0, 0};  // where the part being laid out starts
    int kept = 0;
    for (const int page : pages) {
      if (run_.StopRequested() || halt_) throw Interrupted{};
      WordDocument::PageStart at = source_->StartOfPage(page);
      // A row cut lies inside its table: after the table's start, before
      // whatever follows the table; a cut inside a row before one above it,
      // and the cuts inside one row in page order.
      const std::tuple<int, int, int> key = at.row <= 0 ? std::tuple{at.end, 0, 0}
                                            : at.cells.empty()
                                                ? std::tuple{at.next, 2 * at.row, 0}
                                                : std::tuple{at.next, 2 * at.row - 1, page};
      if (key <= last || (at.row <= 0 && at.end >= length)) continue;
      last = key;
      cuts.push_back(std::move(at));
      cutPages.push_back(page);
    }
    const int total = source_->PageCount();
    int from = 1;
    for (std::size_t i = 0; i < cuts.size(); ++i) {
      const WordDocument::PageStart& at = cuts[i];
      if (at.rowMoved) ++rowsMoved_;
      const bool natural = at.row <= 0 && !source_->BreaksPageAt(at.next);
      WritePart(at.end, at.next, at.row, at.cells, cutPages[i] - from);
      from = cutPages[i];
      nextAtPageTop_ = natural;
      ++kept;
    }
    joined_ += static_cast<int>(pages.size()) - kept;
    WritePart(length, length, -1, {}, total + 1 - from);
  }
  void ToPosition(int end) { WritePart(end, end, -1, {}); }
  void ToEnd() {
    const int end = source_->Length();
    WritePart(end, end, -1, {});
  }

  // `cells`: row `row - 1` is cut inside, and both parts take it. `pages`:
  // the source pages the part holds, when it was cut at pages.
  void WritePart(int end, int next, int row, const std::vector<WordDocument::CellCut>& cells,
                 int pages = 0) {
    if (run_.StopRequested() || halt_) throw Interrupted{};
    end = std::max(end, start_);
    WordDocument::Edges edges;
    edges.startsInParagraph = source_->InsideParagraph(start_);
    edges.endsInParagraph = source_->InsideParagraph(end);
    edges.startsAtPageTop = nextAtPageTop_;
    nextAtPageTop_ = false;
    edges.firstTableStart = firstRow_;
    edges.lastTableEnd = row;
    edges.firstRowCuts = firstCuts_;
    edges.lastRowCuts = cells;
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
    if (const int lost = selection.Paste(); lost > 0) say_(document::LostChanges(path_, lost));
    part.FitPart(edges);
    part.EndOnPages(pages);
    // Saved under a hidden name with the part's extension (which chooses the
    // format) and renamed into place whole.
    PendingOutput pending(target);
    part.SaveAs(pending.tempPath());
    pending.Commit();
    written_.push_back(target);
    // The part is in place: an office that fails to let go of it takes
    // nothing from it (one that went down fails at the next step).
    LetGo(part);
    say_(Translate("ops", " 新文件已生成：") + DisplayText(target));
    start_ = std::min(next, end);
    firstRow_ = cells.empty() ? row : row - 1;
    firstCuts_ = cells;
  }

  void Undo() {
    undone_ = 0;
    for (const std::string& file : written_)
      if (::unlink(file.c_str()) == 0) ++undone_;
    written_.clear();
  }

  WordApplication* app_;
  const RunState& run_;
  const std::atomic<bool>& halt_;  // the run ends early: stop as at a stop
  Say say_;
  std::string folder_;
  std::string path_, name_, ext_, stem_;
  std::vector<std::string> written_;  // parts of the current source
  WordDocument* source_ = nullptr;
  int part_ = 0;
  int start_ = 0;
  int firstRow_ = -1;  // the part being written starts in its first table at this row
  std::vector<WordDocument::CellCut> firstCuts_;  // and inside that row, cell by cell
  int rowsMoved_ = 0;  // rows of the current source that ran across a page where it was cut
  bool nextAtPageTop_ = false;  // the next part starts a page the one before filled
  int joined_ = 0;              // pages of the current source that stayed with the part before
  int undone_ = 0;
};

// What became of one source.
struct Outcome {
  enum class State { Waiting, Cut, Stopped, Failed, Broken };
  State state = State::Waiting;
  std::vector<std::string> parts;      // Cut: written, in order
  int undone = 0;                      // Stopped: parts removed again
  std::optional<OfficeError> failure;  // Failed: the office could not cut it
  std::exception_ptr error;            // Broken: ends the run
};

// The sources of one split, shared by the servers cutting them: each takes
// the next source of the list, and the run hears of each source, whichever
// server cut it, in list order and on the run's own thread.
class Batch {
 public:
  Batch(RunState& run, const CommonOptions& common, RunReporter& reporter, bool threaded)
      : run_(run),
        common_(common),
        reporter_(reporter),
        threaded_(threaded),
        outcomes_(run.WorkList.size()) {}

  // ---- the servers' side

  // The next source to cut; false when none is left or the run ends early.
  bool Take(std::size_t& i) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (halt_ || run_.StopRequested() || next_ >= outcomes_.size()) return false;
    i = next_++;
    return true;
  }
  void Say(const std::string& text) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      said_.push_back(text);
    }
    Wake();
  }
  void Put(std::size_t i, Outcome outcome) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      outcomes_[i] = std::move(outcome);
    }
    Wake();
  }
  // A server that could not start (again) cuts nothing more; the others go on.
  void Gone(const std::optional<OfficeError>& cause) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (cause && !startFailure_) startFailure_ = cause;
      ++gone_;
    }
    Wake();
  }
  // Anything else that ended a server's share ends the run once the sources
  // before are reported.
  void Lost(std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!lost_) lost_ = error;
  }
  const std::atomic<bool>& Halting() const { return halt_; }

  // ---- the run's side

  // Reports what is ready, in order. Answers false once the run is over for
  // good: a stop, or a failure that ends it (then Error() holds it).
  bool Report() {
    for (;;) {
      std::vector<std::string> said;
      Outcome* ready = nullptr;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        said.swap(said_);
        if (reported_ < outcomes_.size() && outcomes_[reported_].state != Outcome::State::Waiting)
          ready = &outcomes_[reported_];
      }
      for (const std::string& text : said) reporter_.Status(text);
      if (over_) return false;
      if (ready == nullptr) return true;
      if (!Settle(*ready)) {
        over_ = true;
        halt_ = true;
        return false;
      }
    }
  }

  // Waits for the servers to report something, then reports it.
  void Await(std::size_t servers) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [&] {
      return !said_.empty() || gone_ >= servers ||
             (reported_ < outcomes_.size() &&
              outcomes_[reported_].state != Outcome::State::Waiting);
    });
  }
  bool AllGone(std::size_t servers) {
    std::lock_guard<std::mutex> lock(mutex_);
    return gone_ >= servers;
  }
  bool AllReported() const { return reported_ >= outcomes_.size(); }
  void Halt() { halt_ = true; }

  // Once every server is gone: removes the parts of sources cut after the one
  // the run stopped at, and says what was undone.
  std::string UndoUnreported() {
    std::string undone;
    for (std::size_t i = reported_; i < outcomes_.size(); ++i) {
      Outcome& o = outcomes_[i];
      int n = o.undone;
      for (const std::string& part : o.parts)
        if (::unlink(part.c_str()) == 0) ++n;
      o.parts.clear();
      if (n > 0)
        undone += Arg(Translate("ops", "已撤销“%1”已生成的 %2 个新文件。"),
                      {DisplayText(FileNamePart(run_.WorkList[i])), n});
    }
    return undone;
  }

  const std::vector<OfficeError>& Failed() const { return failed_; }
  std::exception_ptr Error() const { return error_; }
  const std::optional<OfficeError>& StartFailure() const { return startFailure_; }
  std::exception_ptr LostError() const { return lost_; }
  bool Stopped() const { return stopped_; }

 private:
  void Wake() {
    if (threaded_) {
      wake_.notify_all();
    } else {
      Report();  // one server cuts on the run's own thread
    }
  }

  // Tells the run of one source; false when the run ends with it.
  bool Settle(Outcome& o) {
    const int i = static_cast<int>(reported_++);
    switch (o.state) {
      case Outcome::State::Cut:
        if (!o.parts.empty()) run_.OutputBase = o.parts.back();
        o.parts.clear();
        // The source is closed and all its parts are written: it may go now.
        if (FinishEntry(run_, common_, reporter_, i)) {
          stopped_ = true;
          return false;
        }
        return true;
      case Outcome::State::Failed:
        // The parts of this source are undone already; the batch goes on.
        failed_.push_back(*o.failure);
        reporter_.Status(failed_.back().what());
        return true;
      case Outcome::State::Stopped:
        --reported_;  // said with the other sources left unfinished
        stopped_ = true;
        return false;
      case Outcome::State::Broken:
        error_ = o.error;
        --reported_;
        return false;
      case Outcome::State::Waiting:
        break;
    }
    return true;
  }

  RunState& run_;
  const CommonOptions& common_;
  RunReporter& reporter_;
  const bool threaded_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Outcome> outcomes_;
  std::vector<std::string> said_;
  std::size_t next_ = 0, reported_ = 0, gone_ = 0;
  std::atomic<bool> halt_{false};
  bool over_ = false, stopped_ = false;
  std::optional<OfficeError> startFailure_;
  std::vector<OfficeError> failed_;
  std::exception_ptr error_, lost_;
};

// One server's share of a split: takes sources from `batch` until none is
// left, starting its server afresh when the office goes down on one.
void CutSources(Batch& batch, const RunState& run, const DocumentSplitOptions& options, int amount,
                const std::vector<std::pair<std::string, std::string>>& stems,
                const std::string& folder) {
  std::optional<OfficeError> gone;
  try {
    OfficeServer server;
    auto app = std::make_unique<WordApplication>(server);
    Say say = [&batch](const std::string& text) { batch.Say(text); };
    auto splitter = std::make_unique<Splitter>(*app, run, batch.Halting(), say, folder);
    std::size_t i = 0;
    while (batch.Take(i)) {
      const std::string path = run.WorkList[i];
      if (!server.Running()) {
        // The office went down (on the source before, or while idle): a
        // fresh one takes the rest.
        batch.Say(Translate("ops", "正在重新启动 LibreOffice..."));
        splitter.reset();
        app.reset();
        server.Shutdown();
        try {
          app = std::make_unique<WordApplication>(server);
        } catch (const OfficeError& e) {
          Outcome none;
          none.state = Outcome::State::Failed;
          none.failure = OfficeError(path, PW_TR_NOOP("office", "分割"), e.what());
          batch.Put(i, std::move(none));
          throw;
        }
        splitter = std::make_unique<Splitter>(*app, run, batch.Halting(), say, folder);
      }
      batch.Say(Translate("ops", "正在分割文件： ") + DisplayText(FileNamePart(path)));
      if (!stems[i].second.empty()) batch.Say(stems[i].second);
      Outcome outcome;
      try {
        if (splitter->Cut(path, stems[i].first, options, amount)) {
          outcome.state = Outcome::State::Cut;
          outcome.parts = splitter->Written();
        } else {
          outcome.state = Outcome::State::Stopped;
          outcome.undone = splitter->Undone();
        }
      } catch (const OfficeError& e) {
        outcome.state = Outcome::State::Failed;
        outcome.failure =
            e.file() == path ? e : OfficeError(path, PW_TR_NOOP("office", "分割"), e.what());
      } catch (...) {
        outcome.state = Outcome::State::Broken;
        outcome.error = std::current_exception();
      }
      batch.Put(i, std::move(outcome));
    }
    // Every part is in place: an office that fails to close takes nothing
    // from them.
    try {
      app->Quit();
    } catch (const OfficeError&) {
    }
  } catch (const OfficeError& e) {
    gone = e;
  } catch (...) {
    batch.Lost(std::current_exception());
  }
  batch.Gone(gone);
}

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
  const auto stems = ChooseStems(run.WorkList);
  const std::size_t servers = std::clamp<std::size_t>(
      std::min<std::size_t>(static_cast<std::size_t>(std::max(options.servers, 1)),
                            std::max(1u, std::thread::hardware_concurrency())),
      1, std::max<std::size_t>(count, 1));

  Batch batch(run, common, reporter, servers > 1);
  if (servers == 1) {
    // Cut on the run's own thread, which hears of each step as it happens.
    CutSources(batch, run, options, amount, stems, folder);
  } else {
    std::vector<std::thread> cutting;
    struct Joined {
      Batch& batch;
      std::vector<std::thread>& threads;
      ~Joined() {
        batch.Halt();
        for (std::thread& t : threads)
          if (t.joinable()) t.join();
      }
    } joined{batch, cutting};
    for (std::size_t k = 0; k < servers; ++k)
      cutting.emplace_back(CutSources, std::ref(batch), std::cref(run), std::cref(options), amount,
                           std::cref(stems), std::cref(folder));
    while (batch.Report() && !batch.AllGone(servers)) batch.Await(servers);
  }
  // Every server is gone (the guard above has waited for them): what they
  // said last is reported too.
  batch.Report();
  if (batch.Error()) {
    batch.UndoUnreported();
    std::rethrow_exception(batch.Error());
  }
  if (batch.Stopped() || (run.StopRequested() && !batch.AllReported())) {
    reporter.Status(Stopped() + batch.UndoUnreported());
    return;
  }
  if (!batch.AllReported()) {
    // No server could be started (again) to cut the sources left.
    batch.UndoUnreported();
    if (batch.LostError()) std::rethrow_exception(batch.LostError());
    if (batch.StartFailure()) document::Fail(*batch.StartFailure());
    throw RunError(RunError::Kind::Failure, first, Stopped());
  }
  reporter.Status(Translate("ops", "操作已完成，正在清理内存... "));
  const std::vector<OfficeError>& failed = batch.Failed();
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

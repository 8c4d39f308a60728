#include "platform/spreadsheet/xls_office.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "platform/errors.h"
#include "platform/office/office_server.h"
#include "platform/run_errors.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {
namespace {

constexpr const char* kXlsxFilter = "Calc MS Excel 2007 XML";
constexpr const char* kXlsFilter = "MS Excel 97";
// Files converted ahead and not yet opened: enough to keep both servers
// busy while one file is merged, few enough that the temporary folder never
// holds the whole run.
constexpr int kReadyAhead = 4;

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Moves `from` to `to` (both temporary files of ours); answers errno or 0.
int MoveInto(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  if (errno != EXDEV) return errno;
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  ::unlink(from.c_str());
  return ec.value();
}

// Ends a server that holds no document of ours: killed rather than asked
// to quit, which takes longer and changes nothing, as its profile and
// temporary files go with it.
void End(OfficeServer& server) {
  try {
    server.Abort();
    server.Shutdown();
  } catch (...) {
    // The process is gone either way; nothing of the user's depends on it.
  }
}

}  // namespace

OfficeXlsConverter::OfficeXlsConverter(int servers)
    : limit_(std::clamp(servers, 1,
                        static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u)))) {}

OfficeXlsConverter::~OfficeXlsConverter() {
  std::unique_lock<std::mutex> lock(mutex_);
  quitting_ = true;
  changed_.notify_all();
  // A conversion (or a start) under way ends when its server is killed; a
  // worker between two calls may start a server again, so this repeats
  // until every worker has given its server back.
  while (!busy_.empty()) {
    for (OfficeServer* server : busy_) server->Abort();
    changed_.wait_for(lock, std::chrono::milliseconds(20));
  }
  std::vector<std::thread> workers = std::move(workers_);
  lock.unlock();
  for (std::thread& w : workers) w.join();
  lock.lock();
  for (auto& server : idle_) End(*server);
  idle_.clear();
  jobs_.clear();  // removes what was converted and never taken
  lock.unlock();
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

void OfficeXlsConverter::Convert(OfficeServer& server, const std::string& from,
                                 const std::string& to, const std::string& filter,
                                 const std::string& named) {
  const auto failed = [&](const OfficeError& e) {
    return RunError(
        RunError::Kind::Failure, named,
        Arg(Translate("office", "无法%1“%2”：%3"), {e.action(), DisplayText(named), e.cause()}));
  };
  try {
    server.ConvertSpreadsheet(from, to, filter);
  } catch (const OfficeError& e) {
    throw failed(e);
  } catch (const std::exception&) {
    throw;
  } catch (...) {
    // An office exception between two watched calls: the server went away
    // (it died, or was ended for a stop) while the document was handled.
    throw failed(OfficeError(named, PW_TR_NOOP("office", "转换"),
                             PW_TR_NOOP("office", "LibreOffice 意外退出")));
  }
}

std::unique_ptr<OfficeServer> OfficeXlsConverter::Acquire(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [&] { return quitting_ || !idle_.empty() || servers_ < limit_; });
  if (quitting_) return nullptr;
  std::unique_ptr<OfficeServer> server;
  if (!idle_.empty()) {
    server = std::move(idle_.back());
    idle_.pop_back();
  } else {
    server = std::make_unique<OfficeServer>();
    ++servers_;
  }
  busy_.push_back(server.get());
  return server;
}

void OfficeXlsConverter::Release(std::unique_ptr<OfficeServer> server,
                                 std::unique_lock<std::mutex>& lock) {
  std::erase(busy_, server.get());
  if (!quitting_ && (idle_.empty() || WaitingJob())) {
    idle_.push_back(std::move(server));
    changed_.notify_all();
    return;
  }
  // One idle server serves whatever comes next; a second only holds memory.
  --servers_;
  changed_.notify_all();
  lock.unlock();
  End(*server);
  server.reset();
  lock.lock();
}

bool OfficeXlsConverter::WaitingJob() const {
  return std::any_of(jobs_.begin(), jobs_.end(),
                     [](const Job& j) { return j.state == Job::State::Waiting; });
}

void OfficeXlsConverter::Run(Job& job, OfficeServer* server, std::unique_lock<std::mutex>& lock) {
  job.state = Job::State::Converting;
  job.on = server;
  PendingOutput result(folder_ + "/" + std::to_string(job.number) + ".xlsx");
  const bool skip = server == nullptr || quitting_ || StopRequestedBy(stop_);
  std::optional<RunError> error;
  lock.unlock();
  try {
    if (skip)
      error.emplace(RunError::Kind::Failure, job.source, std::string());
    else
      Convert(*server, job.source, result.tempPath(), kXlsxFilter, job.source);
  } catch (const RunError& e) {
    error = e;
  } catch (const std::exception& e) {
    error.emplace(RunError::Kind::Failure, job.source, e.what());
  }
  lock.lock();
  job.on = nullptr;
  job.error = std::move(error);
  if (!job.error) job.result.emplace(std::move(result));
  job.state = Job::State::Done;
  ++ready_;
  changed_.notify_all();
}

void OfficeXlsConverter::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  {
    // Started now, a server is ready when the first file comes; a failure
    // shows again, named, when a file is converted.
    std::unique_ptr<OfficeServer> server = Acquire(lock);
    if (server == nullptr) return;
    lock.unlock();
    try {
      server->Start();
    } catch (...) {
    }
    lock.lock();
    Release(std::move(server), lock);
  }
  // A server is held only while it converts, so that a file asked for out
  // of turn never waits on a worker that waits for files to be taken.
  for (;;) {
    changed_.wait(lock, [&] {
      return quitting_ || StopRequestedBy(stop_) || Next() != jobs_.end() || !WaitingJob();
    });
    if (quitting_ || StopRequestedBy(stop_)) return;
    auto job = Next();
    if (job == jobs_.end()) return;  // nothing waits
    job->state = Job::State::Converting;
    std::unique_ptr<OfficeServer> server = Acquire(lock);
    Run(*job, server.get(), lock);
    if (server != nullptr) Release(std::move(server), lock);
  }
}

std::list<OfficeXlsConverter::Job>::iterator OfficeXlsConverter::Next() {
  const auto waiting = [](const Job& j) { return j.state == Job::State::Waiting; };
  auto wanted = std::find_if(jobs_.begin(), jobs_.end(),
                             [&](const Job& j) { return waiting(j) && j.wanted; });
  if (wanted != jobs_.end() || ready_ >= kReadyAhead) return wanted;
  return std::find_if(jobs_.begin(), jobs_.end(), waiting);
}

void OfficeXlsConverter::Ahead(const std::vector<std::string>& xlsPaths, bool willSaveXls,
                               StopFlagRef stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  stop_ = stop;
  if (folder_.empty()) {
    SweepStaleConversionFolders();
    // Named as the other conversion folders, so a killed run's is swept.
    std::string tmpl = (std::filesystem::temp_directory_path() /
                        ("pw-xls-" + std::to_string(::getpid()) + "-XXXXXX"))
                           .string();
    if (::mkdtemp(tmpl.data()) == nullptr) return;  // each file is converted when opened
    folder_ = tmpl;
  }
  int queued = 0;
  for (const std::string& path : xlsPaths) {
    // Anything but a plain file (a pipe would hold a server) is left to
    // the opening, which refuses it.
    if (!IsRegularFile(path)) continue;
    Job& job = jobs_.emplace_back();
    job.source = path;
    job.number = static_cast<int>(jobs_.size());
    ++queued;
  }
  const int workers = std::min(limit_, std::max(queued, willSaveXls ? 1 : 0));
  // No more servers than workers: a file opened before its worker's server
  // is up waits for that server rather than starting one of its own.
  if (workers > 0) limit_ = std::max(workers, static_cast<int>(workers_.size()));
  for (int i = static_cast<int>(workers_.size()); i < workers; ++i)
    workers_.emplace_back([this] { Work(); });
  changed_.notify_all();
}

void OfficeXlsConverter::ToXlsx(const std::string& xlsPath, const std::string& xlsxPath) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const Job& j) {
    return j.source == xlsPath && j.state != Job::State::Taken;
  });
  if (job == jobs_.end()) {
    std::unique_ptr<OfficeServer> server = Acquire(lock);
    lock.unlock();
    struct Back {
      OfficeXlsConverter& self;
      std::unique_ptr<OfficeServer>& server;
      ~Back() {
        std::unique_lock<std::mutex> relock(self.mutex_);
        self.Release(std::move(server), relock);
      }
    } back{*this, server};
    PendingOutput stage(xlsxPath);
    Convert(*server, xlsPath, stage.tempPath(), kXlsxFilter, xlsPath);
    if (const int err = MoveInto(stage.tempPath(), xlsxPath); err != 0)
      throw RunError(RunError::Kind::Failure, xlsPath, FileErrorText("读取", xlsPath, err));
    return;
  }
  // Asked for before its turn: the next worker takes it. The wait answers
  // a stop at once: a conversion under way goes with its server.
  job->wanted = true;
  changed_.notify_all();
  while (job->state != Job::State::Done) {
    if (StopRequestedBy(stop_)) {
      if (job->state == Job::State::Waiting) {
        job->state = Job::State::Done;
        job->error.emplace(RunError::Kind::Failure, xlsPath, std::string());
        ++ready_;
        break;
      }
      if (job->on != nullptr) job->on->Abort();
    }
    changed_.wait_for(lock, std::chrono::milliseconds(50));
  }
  job->state = Job::State::Taken;
  --ready_;
  changed_.notify_all();
  const std::optional<RunError> error = std::move(job->error);
  std::optional<PendingOutput> result = std::move(job->result);
  lock.unlock();
  if (error) throw *error;
  if (const int err = MoveInto(result->tempPath(), xlsxPath); err != 0)
    throw RunError(RunError::Kind::Failure, xlsPath, FileErrorText("读取", xlsPath, err));
}

void OfficeXlsConverter::FromXlsx(const std::string& xlsxPath, const std::string& xlsPath,
                                  const std::string& shownAs) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::unique_ptr<OfficeServer> server = Acquire(lock);
  lock.unlock();
  try {
    Convert(*server, xlsxPath, xlsPath, kXlsFilter, shownAs);
  } catch (...) {
    lock.lock();
    Release(std::move(server), lock);
    throw;
  }
  lock.lock();
  Release(std::move(server), lock);
}

std::vector<pid_t> OfficeXlsConverter::ServerProcesses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<pid_t> pids;
  for (const auto& s : idle_)
    if (s->ProcessId() > 0) pids.push_back(s->ProcessId());
  for (OfficeServer* s : busy_)
    if (s->ProcessId() > 0) pids.push_back(s->ProcessId());
  return pids;
}

}  // namespace pw

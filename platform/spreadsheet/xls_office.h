#pragma once
// .xls workbooks read and written through private office servers, which
// start at the first .xls of a run (or as soon as the run names its .xls
// sources) and end with the run.
//
// The sources a run names ahead are converted in the background, on up to
// two servers at once, a few files ahead of the one being merged; each is
// handed over when it is opened. A server holds one conversion at a time.

#include <sys/types.h>

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/output_file.h"
#include "platform/spreadsheet/server.h"

namespace pw {

class OfficeServer;

class OfficeXlsConverter : public XlsConverter {
 public:
  // At most `servers` office processes at once: at least one, and no more
  // than the machine has cores.
  explicit OfficeXlsConverter(int servers = 2);
  // Ends every conversion under way at once (its server is killed), then the servers.
  ~OfficeXlsConverter() override;
  OfficeXlsConverter(const OfficeXlsConverter&) = delete;
  OfficeXlsConverter& operator=(const OfficeXlsConverter&) = delete;

  void Ahead(const std::vector<std::string>& xlsPaths, bool willSaveXls, StopFlagRef stop) override;
  void ToXlsx(const std::string& xlsPath, const std::string& xlsxPath) override;
  void FromXlsx(const std::string& xlsxPath, const std::string& xlsPath,
                const std::string& shownAs) override;

  // The office processes running now.
  std::vector<pid_t> ServerProcesses() const;

 private:
  struct Job {
    std::string source;
    int number = 0;                       // names its result
    bool wanted = false;                  // asked for: converted next, however many are ready
    std::optional<PendingOutput> result;  // the .xlsx, under a private temporary name
    std::optional<RunError> error;
    enum class State { Waiting, Converting, Done, Taken } state = State::Waiting;
    OfficeServer* on = nullptr;  // while converting
  };

  // An idle server, or a new one while fewer than the limit exist; waits
  // for one otherwise. Null once the converter is ending.
  std::unique_ptr<OfficeServer> Acquire(std::unique_lock<std::mutex>& lock);
  // Gives `server` back; a server no longer needed (another is idle, no
  // conversion is waiting) ends.
  void Release(std::unique_ptr<OfficeServer> server, std::unique_lock<std::mutex>& lock);
  // A worker: starts a server, then converts waiting files in turn.
  void Work();
  // Converts `job` on `server` (none: the converter is ending); the lock is
  // released meanwhile.
  void Run(Job& job, OfficeServer* server, std::unique_lock<std::mutex>& lock);
  static void Convert(OfficeServer& server, const std::string& from, const std::string& to,
                      const std::string& filter, const std::string& named);
  bool WaitingJob() const;
  // The job a worker converts next: one asked for, else the first waiting
  // while fewer than a few are ready; end() when none.
  std::list<Job>::iterator Next();

  int limit_;  // office processes at most
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<OfficeServer>> idle_;
  std::vector<OfficeServer*> busy_;
  int servers_ = 0;
  std::list<Job> jobs_;
  int ready_ = 0;  // converted ahead, not yet taken
  std::vector<std::thread> workers_;
  std::string folder_;  // where conversions ahead are kept until taken
  StopFlagRef stop_ = nullptr;
  bool quitting_ = false;
};

}  // namespace pw

#pragma once
// A private LibreOffice server for one run: its own soffice.bin process, its
// own temporary profile and its own pipe, so the user's office instance and
// profile are never touched. Started once per run, stopped at its end.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace pw {

// Every failure of the office server: the file concerned (may be empty), what
// was being done ("打开", "保存") and the cause, all in the user's words.
class OfficeError : public std::runtime_error {
 public:
  OfficeError(std::string file, std::string action, std::string cause);
  const std::string& file() const { return file_; }
  const std::string& action() const { return action_; }
  const std::string& cause() const { return cause_; }

 private:
  std::string file_, action_, cause_;
};

struct OfficeOptions {
  // A single call to the server that takes longer than this is taken for a
  // hang: the server is killed and the call fails.
  std::chrono::milliseconds callTimeout{std::chrono::seconds(180)};
  std::chrono::milliseconds startTimeout{std::chrono::seconds(60)};
  std::string program;  // soffice.bin; empty: the installed one
  // Runs steps made of many small calls inside the office process, through
  // the program's agent component; without it they go call by call.
  bool agent = true;
};

class OfficeServer {
 public:
  explicit OfficeServer(OfficeOptions options = {});
  ~OfficeServer();
  OfficeServer(const OfficeServer&) = delete;
  OfficeServer& operator=(const OfficeServer&) = delete;

  // Starts the server process and connects to it; does nothing when running.
  void Start();
  // Closes the connection, ends the process and removes its profile.
  void Shutdown();
  // Ends the process at once, from any thread: a call under way on another
  // thread fails as when the server stops answering. The next call starts a
  // new process.
  void Abort();
  bool Running() const;
  pid_t ProcessId() const;
  const OfficeOptions& Options() const;
  void SetCallTimeout(std::chrono::milliseconds timeout);

  // Converts a workbook between formats ("Calc MS Excel 2007 XML" for .xlsx,
  // "MS Excel 97" for .xls). Refuses to write .xls when a sheet is larger
  // than that format holds. The source is never modified.
  void ConvertSpreadsheet(const std::string& from, const std::string& to,
                          const std::string& filter);

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace pw

#pragma once
// Plain descriptor access shared by the text operations. Every failure is a
// RunError naming the file and the cause.

#include <cstddef>
#include <cstdint>
#include <string>

#include "batch/run.h"

namespace pw::textio {

// Status text of both operations when a stop request ends them.
std::string StopText();
// The same when the stop undid what was written from `path`.
std::string StopTextUndoing(const std::string& path);

// The progress bar stays up exactly as long as the operation runs, however it ends.
class ProgressScope {
 public:
  ProgressScope(RunReporter& reporter, std::size_t count);
  ~ProgressScope() { End(); }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;
  void End();

 private:
  RunReporter& reporter_;
  bool open_ = true;
};

// Bytes read at a time; a stop request is honoured between blocks.
std::size_t BlockSize();
// Tests use tiny blocks to stop in the middle of a small file; 0 restores the default.
void SetBlockSizeForTesting(std::size_t bytes);

[[noreturn]] void Fail(const std::string& action, const std::string& file, int err);

// An open descriptor, closed when it goes out of scope.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  int get() const { return fd_; }
  int Release();
  void Reset();
  // Closes, reporting a late write error against `file`.
  void Close(const std::string& file);

 private:
  int fd_ = -1;
};

// A regular file opened for reading; `size` receives its size.
Fd OpenSource(const std::string& path, std::int64_t& size);

// Creates the new file `path` for writing (the hidden name an output is
// written under); failures name `shownAs`, the output's own name.
Fd CreateOutput(const std::string& path, const std::string& shownAs);

// Starts writing `fd`'s bytes from `from` to `to` to the disk without waiting,
// so that the flush when the output is saved finds most of them written.
void StartWriteback(int fd, std::int64_t from, std::int64_t to);

// Reads up to `n` bytes; 0 at the end of the file.
std::size_t ReadSome(int fd, char* buf, std::size_t n, const std::string& file);
// Reads exactly `n` bytes at `offset`.
void ReadAt(int fd, char* buf, std::size_t n, std::int64_t offset, const std::string& file);
void WriteAll(int fd, const char* data, std::size_t n, const std::string& file);

}  // namespace pw::textio

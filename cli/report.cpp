#include "cli/report.h"

#include <dirent.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "batch/contract.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::cli {

namespace {

// Columns a UTF-8 text takes on a terminal: East Asian characters two.
std::size_t Columns(const std::string& text) {
  std::size_t columns = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    columns += len >= 3 ? 2 : 1;
    i += len;
  }
  return columns;
}

// `text` cut from the front to `width` columns, "…" marking the cut.
std::string FitFromEnd(const std::string& text, std::size_t width) {
  if (Columns(text) <= width) return text;
  std::size_t start = 0;
  while (start < text.size() && Columns(text.substr(start)) + 1 > width) {
    ++start;
    while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) ++start;
  }
  return "…" + text.substr(start);
}

std::size_t TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
  return 80;
}

const char* OutcomeWord(RemoveOutcome outcome) {
  switch (outcome) {
    case RemoveOutcome::Trashed:
      return "trashed";
    case RemoveOutcome::Deleted:
      return "deleted";
    case RemoveOutcome::Failed:
      return "failed";
    case RemoveOutcome::Replaced:
      return "kept-replaced";
  }
  return "";
}

std::string Quote(const std::string& text) {
  const std::string utf8 = IsValidUtf8(text) ? text : DisplayText(text);
  std::string out = "\"";
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// A path as JSON members: "path", and "pathHex" with its bytes when they are
// not UTF-8 (the path shown is then decoded for reading only).
std::string PathMembers(const std::string& path) {
  std::string out = "\"path\":" + Quote(path);
  if (!IsValidUtf8(path)) {
    out += ",\"pathHex\":\"";
    for (const char c : path) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
      out += buf;
    }
    out += '"';
  }
  return out;
}

}  // namespace

void PrintLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stderr);
  std::fflush(stderr);
}

CliReporter::Style StyleForStderr(bool quiet) {
  if (quiet) return CliReporter::Style::Quiet;
  const char* term = std::getenv("TERM");
  const bool dumb = term == nullptr || std::string(term) == "dumb";
  return ::isatty(STDERR_FILENO) && !dumb ? CliReporter::Style::Terminal
                                          : CliReporter::Style::Lines;
}

CliReporter::CliReporter(const RunState& run, Style style) : run_(run), style_(style) {}

void CliReporter::Status(const std::string& text) {
  last_ = text;
  if (style_ == Style::Lines) PrintLine(text);
  if (style_ == Style::Terminal) Draw(false);
}

void CliReporter::Counter(int finished) {
  finished_ = finished + 1;
  const std::size_t total = run_.WorkList.size();
  const std::size_t done = static_cast<std::size_t>(finished_);
  if (style_ == Style::Lines)
    PrintLine(Arg(Translate("cli", "已完成 %1/%2（%3%）"), {done, total, done * 100 / total}));
  if (style_ == Style::Terminal) Draw(false);
}

void CliReporter::SourceRemoved(int i, RemoveOutcome outcome) {
  const std::string& path = run_.WorkList[static_cast<std::size_t>(i)];
  removals_.emplace_back(path, outcome);
  const std::string name = DisplayText(path);
  switch (outcome) {
    case RemoveOutcome::Trashed:
      if (style_ != Style::Quiet) Message(Translate("cli", "源文件已移到回收站：") + name);
      break;
    case RemoveOutcome::Deleted:
      if (style_ != Style::Quiet)
        Message(Translate("cli", "没有可用的回收站，源文件已直接删除：") + name);
      break;
    case RemoveOutcome::Failed:
      Message(Translate("cli", "无法删除源文件：") + name);
      break;
    case RemoveOutcome::Replaced:
      Message(Translate("cli", "警告：源文件在运行中被替换为另一个文件，已保留未删除：") + name);
      break;
  }
}

void CliReporter::Message(const std::string& line) {
  Clear();
  PrintLine(line);
  if (style_ == Style::Terminal && drawn_) Draw(true);
}

void CliReporter::Finish(bool showLastStatus) {
  if (style_ != Style::Terminal) return;
  Clear();
  if (showLastStatus && !last_.empty()) PrintLine(last_);
  drawn_ = false;
}

void CliReporter::Draw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - drawnAt_ < std::chrono::milliseconds(50)) return;
  const std::size_t total = run_.WorkList.size();
  if (total == 0) return;
  const std::size_t current = std::min<std::size_t>(static_cast<std::size_t>(finished_) + 1, total);
  const std::string head = "[" + std::to_string(current) + "/" + std::to_string(total) + "] " +
                           std::to_string(static_cast<std::size_t>(finished_) * 100 / total) + "% ";
  const std::string name = DisplayText(FileNamePart(run_.WorkList[current - 1]));
  const std::size_t width = TerminalWidth() - 1;
  const std::string line = head + FitFromEnd(name, width > head.size() ? width - head.size() : 1);
  std::fputs(("\r\033[K" + line).c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
  drawnAt_ = now;
}

void CliReporter::Clear() {
  if (style_ != Style::Terminal || !drawn_) return;
  std::fputs("\r\033[K", stderr);
}

FolderSnapshot::FolderSnapshot(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) continue;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string path = (folder == "/" ? "" : folder) + "/" + entry->d_name;
      struct stat st {};
      if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      files_[path] = {st.st_dev, st.st_ino};
    }
    ::closedir(dir);
  }
}

std::vector<std::string> FolderSnapshot::WrittenSince(const FolderSnapshot& before,
                                                      const std::string& ignore) const {
  std::vector<std::string> written;
  for (const auto& [path, stamp] : files_) {
    if (path == ignore || FileNamePart(path).starts_with(".~pw")) continue;
    const auto old = before.files_.find(path);
    // Outputs are saved by renaming a finished file into place: a new file,
    // never one changed where it stands.
    if (old == before.files_.end() || old->second.dev != stamp.dev || old->second.ino != stamp.ino)
      written.push_back(path);
  }
  return written;
}

std::vector<std::string> OutputFolders(const CommandLine& cl) {
  std::set<std::string> folders{cl.outputFolder};
  for (const std::string& file : cl.files) {
    const std::size_t slash = file.find_last_of('/');
    folders.insert(slash == 0 ? "/" : file.substr(0, slash));
  }
  return {folders.begin(), folders.end()};
}

std::string SummaryJson(const RunSummary& s) {
  std::string out = "{\"mode\":" + Quote(s.mode) + ",\"kind\":" + Quote(s.kind);
  out += ",\"dryRun\":" + std::string(s.dryRun ? "true" : "false");
  out += ",\"status\":" + std::to_string(s.status);
  out += ",\"stopped\":" + std::string(s.stopped ? "true" : "false");
  out += ",\"files\":" + std::to_string(s.files);
  out += ",\"finished\":" + std::to_string(s.finished);
  out += ",\"outputs\":[";
  bool first = true;
  if (s.dryRun) {
    for (const PlannedOutput& p : s.planned) {
      out += (first ? "{" : ",{") + PathMembers(p.path);
      out += ",\"exact\":" + std::string(p.exact ? "true" : "false");
      if (p.lines >= 0) out += ",\"lines\":" + std::to_string(p.lines);
      if (p.bytes >= 0) out += ",\"bytes\":" + std::to_string(p.bytes);
      out += "}";
      first = false;
    }
  } else {
    for (const std::string& path : s.outputs) {
      struct stat st {};
      out += (first ? "{" : ",{") + PathMembers(path);
      if (::stat(path.c_str(), &st) == 0) out += ",\"bytes\":" + std::to_string(st.st_size);
      out += "}";
      first = false;
    }
  }
  out += "],\"notes\":[";
  first = true;
  for (const std::string& note : s.notes) {
    out += (first ? "" : ",") + Quote(note);
    first = false;
  }
  out += "],\"failedRecords\":" + std::to_string(s.failedRecords);
  out += ",\"skippedRecords\":" + std::to_string(s.skippedRecords);
  out += ",\"queriesNotCopied\":" + std::to_string(s.queriesNotCopied);
  out += ",\"errorLog\":" + (s.errorLog.empty() ? std::string("null") : Quote(s.errorLog));
  out += ",\"sourcesRemoved\":[";
  first = true;
  for (const auto& [path, outcome] : s.removals) {
    out +=
        (first ? "{" : ",{") + PathMembers(path) + ",\"outcome\":\"" + OutcomeWord(outcome) + "\"}";
    first = false;
  }
  out += "],\"errors\":[";
  first = true;
  for (const auto& [file, message] : s.errors) {
    out += first ? "{" : ",{";
    if (!file.empty()) out += PathMembers(file) + ",";
    out += "\"message\":" + Quote(message) + "}";
    first = false;
  }
  return out + "]}\n";
}

}  // namespace pw::cli

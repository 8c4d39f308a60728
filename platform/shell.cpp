#include "platform/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <thread>

extern char** environ;

namespace pw {
namespace {

std::mutex openerMutex;
ShellOpener currentOpener;

bool XdgOpen(const std::string& target) {
  // Spawned in a session of its own (no bare fork: the window's process has
  // threads); a short-lived waiter reaps it.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()), nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, "xdg-open", &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  std::thread([pid] {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }).detach();
  return true;
}

}  // namespace

bool ShellOpen(const std::string& target) {
  ShellOpener opener;
  {
    std::lock_guard lock(openerMutex);
    opener = currentOpener;
  }
  return opener ? opener(target) : XdgOpen(target);
}

void SetShellOpener(ShellOpener opener) {
  std::lock_guard lock(openerMutex);
  currentOpener = std::move(opener);
}

}  // namespace pw

#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>

extern char** environ;

namespace pw {
namespace {

std::mutex openerMutex;
ShellOpener currentOpener;

bool XdgOpen(const std::string& target) {
  // Double fork through a short-lived child so the opened program is never our zombie.
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()), nullptr};
    pid_t grandchild = 0;
    const int rc = ::posix_spawnp(&grandchild, "xdg-open", nullptr, nullptr, argv, environ);
    ::_exit(rc == 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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

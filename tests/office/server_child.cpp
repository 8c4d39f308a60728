// A program that starts an office server the way a run does, on a worker
// thread that ends right after, then prints the server's process id and
// waits, to be killed by the test that started it.

#include <unistd.h>

#include <cstdio>
#include <thread>

#include "platform/office/office_server.h"

int main() {
  pw::OfficeServer server;
  std::thread([&server] { server.Start(); }).join();
  std::printf("%d\n", static_cast<int>(server.ProcessId()));
  std::fflush(stdout);
  for (;;) ::pause();
}

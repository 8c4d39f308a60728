#include <cstdio>

int main() {
  std::fputs("plinthwick-cli: not available yet\n", stderr);
  return 2;
}

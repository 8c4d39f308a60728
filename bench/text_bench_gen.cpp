// Writes a text file of CR LF lines of varied length (ASCII and GBK-like
// bytes), of exactly the size asked for. Usage: text_bench_gen FILE BYTES [SEED]

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fputs("usage: text_bench_gen FILE BYTES [SEED]\n", stderr);
    return 2;
  }
  const long long total = std::atoll(argv[2]);
  std::uint64_t x =
      argc > 3 ? std::strtoull(argv[3], nullptr, 10) * 2654435761u + 1 : 88172645463325252ull;
  const auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<char> buf;
  buf.reserve(1 << 20);
  long long written = 0;
  while (written < total) {
    buf.clear();
    while (buf.size() < (1u << 20) - 256) {
      const int length = 10 + static_cast<int>(next() % 180);
      for (int i = 0; i < length; ++i) {
        const std::uint64_t r = next();
        if (r % 8 == 0) {  // a two-byte GBK character
          buf.push_back(static_cast<char>(0xB0 + r % 40));
          buf.push_back(static_cast<char>(0xA1 + (r >> 8) % 90));
          ++i;
        } else {
          buf.push_back(static_cast<char>(' ' + 1 + (r >> 8) % 94));
        }
      }
      buf.push_back('\r');
      buf.push_back('\n');
    }
    std::size_t n = buf.size();
    if (static_cast<long long>(n) > total - written) {
      n = static_cast<std::size_t>(total - written);
      if (n >= 2) buf[n - 2] = '\r', buf[n - 1] = '\n';
    }
    if (std::fwrite(buf.data(), 1, n, out) != n) {
      std::perror(argv[1]);
      return 1;
    }
    written += static_cast<long long>(n);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}

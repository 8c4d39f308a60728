#include "platform/spreadsheet/zip_entry.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <vector>

namespace pw::xl {

struct ZipEntryReader::Inflate {
  inflate_state state;
  std::vector<std::uint8_t> in = std::vector<std::uint8_t>(1 << 16);
  std::uint64_t size = 0, expectedSize = 0;
  std::uint32_t expectedCrc = 0;
  bool inputEnded = false, done = false;
};

std::unique_ptr<ZipEntryReader> ZipEntryReader::Open(zip_t* zip, zip_uint64_t index) {
  zip_stat_t st;
  zip_stat_init(&st);
  const bool raw = zip_stat_index(zip, index, 0, &st) == 0 &&
                   (st.valid & ZIP_STAT_COMP_METHOD) != 0 && st.comp_method == ZIP_CM_DEFLATE &&
                   (st.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 &&
                   st.encryption_method == ZIP_EM_NONE && (st.valid & ZIP_STAT_CRC) != 0 &&
                   (st.valid & ZIP_STAT_SIZE) != 0;
  zip_file_t* file = zip_fopen_index(zip, index, raw ? ZIP_FL_COMPRESSED : 0);
  if (file == nullptr) return nullptr;
  std::unique_ptr<Inflate> inflate;
  if (raw) {
    inflate = std::make_unique<Inflate>();
    isal_inflate_init(&inflate->state);
    inflate->state.crc_flag = ISAL_GZIP_NO_HDR;  // raw deflate, checksum kept as it goes
    inflate->expectedSize = st.size;
    inflate->expectedCrc = st.crc;
  }
  return std::unique_ptr<ZipEntryReader>(new ZipEntryReader(file, std::move(inflate)));
}

ZipEntryReader::ZipEntryReader(zip_file_t* file, std::unique_ptr<Inflate> inflate)
    : file_(file), inflate_(std::move(inflate)) {}

ZipEntryReader::~ZipEntryReader() {
  zip_fclose(file_);
}

std::int64_t ZipEntryReader::Fail(std::string cause) {
  error_ = std::move(cause);
  return -1;
}

std::int64_t ZipEntryReader::Read(char* out, std::size_t n) {
  if (!inflate_) {
    const zip_int64_t got = zip_fread(file_, out, n);
    if (got < 0) return Fail(zip_error_strerror(zip_file_get_error(file_)));
    return got;
  }
  Inflate& z = *inflate_;
  if (z.done || n == 0) return 0;
  const auto room = static_cast<std::uint32_t>(std::min<std::size_t>(n, 1u << 30));
  for (;;) {
    if (z.state.avail_in == 0 && !z.inputEnded) {
      const zip_int64_t got = zip_fread(file_, z.in.data(), z.in.size());
      if (got < 0) return Fail(zip_error_strerror(zip_file_get_error(file_)));
      z.inputEnded = got == 0;
      z.state.next_in = z.in.data();
      z.state.avail_in = static_cast<std::uint32_t>(got);
    }
    z.state.next_out = reinterpret_cast<std::uint8_t*>(out);
    z.state.avail_out = room;
    if (isal_inflate(&z.state) < 0) return Fail("压缩数据已损坏");
    const std::uint32_t produced = room - z.state.avail_out;
    z.size += produced;
    if (z.state.block_state == ISAL_BLOCK_FINISH) {
      z.done = true;
      if (z.size != z.expectedSize) return Fail("解压后的大小与记录不符");
      if (z.state.crc != z.expectedCrc) return Fail("校验和不符");
      return produced;
    }
    if (produced > 0) return produced;
    if (z.inputEnded && z.state.avail_in == 0) return Fail("压缩数据不完整");
  }
}

}  // namespace pw::xl

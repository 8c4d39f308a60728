#pragma once

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pw::xl {

// One entry of an open zip archive, read front to back in its inflated form.
// Deflated entries are inflated here from their raw bytes (ISA-L, several
// times faster than the archive library's own path); any other entry goes
// through the archive library. Either way the entry's size and checksum are
// checked at its end, so a damaged entry fails its last read.
class ZipEntryReader {
 public:
  // Null when the archive library cannot open the entry; its error is then
  // in zip_get_error(zip).
  static std::unique_ptr<ZipEntryReader> Open(zip_t* zip, zip_uint64_t index);
  ~ZipEntryReader();
  ZipEntryReader(const ZipEntryReader&) = delete;
  ZipEntryReader& operator=(const ZipEntryReader&) = delete;

  // Up to `n` bytes into `out`: 0 at the entry's end, -1 when it is damaged
  // (see Error()).
  std::int64_t Read(char* out, std::size_t n);
  // Why the last read failed, in a few words.
  const std::string& Error() const { return error_; }

 private:
  struct Inflate;
  ZipEntryReader(zip_file_t* file, std::unique_ptr<Inflate> inflate);
  std::int64_t Fail(std::string cause);

  zip_file_t* file_;
  std::unique_ptr<Inflate> inflate_;  // null: the library inflates
  std::string error_;
};

}  // namespace pw::xl

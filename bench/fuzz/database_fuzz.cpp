// libFuzzer target: every path that reads a database from outside must
// answer with an error, never crash or hang. Build and run with
// bench/fuzz/run_database_fuzz.sh.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/database/engine.h"
#include "platform/database/jet_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/pw-fuzz-" + std::to_string(getpid()) + ".mdb";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  try {
    pw::db::MdbFile file(path);
    for (const std::string& t : file.TableNames()) (void)file.ReadTable(t);
  } catch (const pw::db::DatabaseError&) {
  }
  (void)pw::db::CheckDatabase(path, false);
  try {
    pw::db::Connection c;
    pw::db::OpenDatabase(c, path);
    pw::db::Query q(c);
    pw::db::ExecuteStatement(q, "CREATE TABLE [T] ([A] CHAR(250))");
  } catch (const pw::db::DatabaseError&) {
  }
  return 0;
}

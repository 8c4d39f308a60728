// The reading program: reads one database with libmdb in a process of its
// own, so a damaged file can never take the program down with it.

#include "platform/database/mdb_file.h"

int main(int argc, char** argv) {
  return pw::db::RunMdbReader(argc, argv);
}

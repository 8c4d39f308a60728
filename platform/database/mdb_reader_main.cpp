// The reading program: reads one database with libmdb in a process of its
// own, so a damaged file can never take the program down with it. Its
// messages are in the language the program that started it speaks: the
// choice comes with the environment.

#include "platform/database/mdb_file.h"
#include "translations/language.h"

int main(int argc, char** argv) {
  pw::UseLanguage(pw::LanguageFromEnvironment());
  return pw::db::RunMdbReader(argc, argv);
}

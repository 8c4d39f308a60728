# Every text the sources mark for translation has its English translation:
# extracts the texts afresh into a copy of the translation and fails on any
# text that has none there, naming it.
#   cmake -DLUPDATE=... -DSOURCE_DIR=... -DTS=... -DWORK=... -P complete.cmake
file(MAKE_DIRECTORY ${WORK})
configure_file(${TS} ${WORK}/plinthwick_en.ts COPYONLY)
execute_process(
  COMMAND ${LUPDATE} -silent -locations none -no-obsolete -I ${SOURCE_DIR}
          -source-language zh_CN -target-language en
          -tr-function-alias translate+=Translate,QT_TRANSLATE_NOOP+=PW_TR_NOOP
          app cli batch ops platform filelist -ts ${WORK}/plinthwick_en.ts
  WORKING_DIRECTORY ${SOURCE_DIR}
  RESULT_VARIABLE status
  ERROR_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${status})")
endif()
file(READ ${WORK}/plinthwick_en.ts text)
string(REGEX MATCHALL "<source>[^<]*</source>[ \n\r\t]*<translation type=\"unfinished\"" missing "${text}")
list(LENGTH missing count)
if(count GREATER 0)
  string(REPLACE ";" "\n" shown "${missing}")
  message(FATAL_ERROR "${count} texts have no English translation in translations/plinthwick_en.ts "
                      "(cmake --build build --target translations_update, then translate them):\n${shown}")
endif()
message(STATUS "every marked text has its English translation")

# Strict warnings for our own targets; third-party headers come in as SYSTEM.
function(pw_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Werror)
  # The sanitizers' instrumentation makes GCC 12 see uninitialised members
  # inside the standard library's own std::regex and std::function, where
  # there are none; the plain build keeps the warning.
  if(PW_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
endfunction()

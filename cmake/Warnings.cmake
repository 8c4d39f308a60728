# Strict warnings for our own targets; third-party headers come in as SYSTEM.
function(pw_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Werror)
endfunction()

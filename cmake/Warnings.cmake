# Our own targets build with every common warning, and a warning fails the build.
function(vellum_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

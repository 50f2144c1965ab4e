# VELLUM_FUZZ=ON builds the libFuzzer targets of tests/fuzz (clang only): everything is
# instrumented for coverage and built with AddressSanitizer and UndefinedBehaviorSanitizer, and
# the fuzz targets link libFuzzer's driver.
option(VELLUM_FUZZ "Build the libFuzzer targets with clang" OFF)
if(VELLUM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELLUM_FUZZ needs clang (configure with CMAKE_CXX_COMPILER=clang++)")
  endif()
  if(VELLUM_SANITIZE)
    message(FATAL_ERROR "VELLUM_FUZZ brings its own sanitizers; leave VELLUM_SANITIZE off")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()

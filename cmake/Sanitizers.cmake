# VELLUM_SANITIZE=ON builds everything with AddressSanitizer and UndefinedBehaviorSanitizer;
# the test command always configures with it. VELLUM_TSAN=ON builds with ThreadSanitizer
# instead, for the concurrency tests (the test command builds and runs those in build/tsan).
option(VELLUM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VELLUM_TSAN "Build with ThreadSanitizer" OFF)
if(VELLUM_SANITIZE AND VELLUM_TSAN)
  message(FATAL_ERROR "VELLUM_SANITIZE and VELLUM_TSAN cannot be combined: configure a separate build directory for each")
endif()
if(VELLUM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VELLUM_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

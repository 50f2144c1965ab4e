# VELLUM_SANITIZE=ON builds everything with AddressSanitizer and UndefinedBehaviorSanitizer;
# the test command always configures with it.
option(VELLUM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(VELLUM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Compiler settings shared by every target: warnings, and the sanitizer build.
add_library(vantlow_options INTERFACE)
target_compile_options(vantlow_options INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-qual -Wformat=2 -Wundef
  $<$<BOOL:${VANTLOW_WERROR}>:-Werror>)
if(VANTLOW_SANITIZE)
  target_compile_options(vantlow_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(vantlow_options INTERFACE -fsanitize=address,undefined)
endif()

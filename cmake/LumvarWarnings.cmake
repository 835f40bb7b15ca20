# Warnings for every target of the project; LUMVAR_WERROR turns them into errors.
add_library(lumvar_warnings INTERFACE)
if(MSVC)
  target_compile_options(lumvar_warnings INTERFACE /W4 $<$<BOOL:${LUMVAR_WERROR}>:/WX>)
else()
  target_compile_options(lumvar_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wcast-align -Wnull-dereference -Wimplicit-fallthrough -Wformat=2
    $<$<BOOL:${LUMVAR_WERROR}>:-Werror>)
endif()

if(LUMVAR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

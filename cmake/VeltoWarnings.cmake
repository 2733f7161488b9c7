option(VELTO_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)
add_library(velto_warnings INTERFACE)
target_compile_options(velto_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual
  -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough
  $<$<BOOL:${VELTO_WARNINGS_AS_ERRORS}>:-Werror>)

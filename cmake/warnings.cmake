# Shared warning set; -Werror when the CI environment variable is set.
add_library(qev_warnings INTERFACE)
target_compile_options(qev_warnings INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor>)
if(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND NOT "$ENV{CI}" STREQUAL "false")
  target_compile_options(qev_warnings INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-Werror>)
  # GCC 12 at -O3 reports std::string concatenation as overlapping copies (-Wrestrict, a known
  # false positive in its inlined library code): shown, but not fatal.
  target_compile_options(qev_warnings INTERFACE
    $<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CXX_COMPILER_ID:GNU>>:-Wno-error=restrict>)
endif()

# Precompiled headers: the standard headers nearly every file includes (and,
# for the test programs, GoogleTest's) are parsed once per build instead of
# once per file; about a sixth of the compile time. The first library, and
# the first test program, makes the header; the others reuse it. ccache needs
# CCACHE_SLOPPINESS to include pch_defines,time_macros to cache such files.
option(TAVRIN_PCH "Precompile the common standard headers" ON)

set(TAVRIN_PCH_HEADERS
  <algorithm> <array> <cstdint> <cstring> <functional> <map> <memory>
  <optional> <set> <span> <string> <string_view> <utility> <vector>)

# tavrin_precompile(TARGET [GROUP]): the targets of one group share one
# header. A group whose name begins with "test" adds GoogleTest's headers.
# Targets compiled with other options (Qt's need position-independent code)
# need a group of their own: GCC refuses a header built with other options.
function(tavrin_precompile target)
  if(NOT TAVRIN_PCH)
    return()
  endif()
  set(group library)
  if(ARGN)
    set(group ${ARGN})
  endif()
  set(extra)
  if(group MATCHES "^test")
    set(extra <gtest/gtest.h> <filesystem> <fstream>)
  endif()
  get_property(owner GLOBAL PROPERTY TAVRIN_PCH_${group})
  if(owner)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  else()
    target_precompile_headers(${target} PRIVATE ${TAVRIN_PCH_HEADERS} ${extra})
    set_property(GLOBAL PROPERTY TAVRIN_PCH_${group} ${target})
  endif()
endfunction()

# Precompiled headers: the standard headers nearly every file includes (and,
# for the test programs, GoogleTest's) are parsed once per build instead of
# once per file; about a sixth of the compile time. The first library, and
# the first test program, makes the header; the others reuse it (the
# compile options are the same throughout a build). ccache needs
# CCACHE_SLOPPINESS to include pch_defines,time_macros to cache such files.
option(TAVRIN_PCH "Precompile the common standard headers" ON)

set(TAVRIN_PCH_HEADERS
  <algorithm> <array> <cstdint> <cstring> <functional> <map> <memory>
  <optional> <set> <span> <string> <string_view> <utility> <vector>)

# tavrin_precompile(TARGET): for a library.
# tavrin_precompile(TARGET TEST): for a test program (GoogleTest's headers too).
function(tavrin_precompile target)
  if(NOT TAVRIN_PCH)
    return()
  endif()
  set(group library)
  set(extra)
  if(ARGN STREQUAL "TEST")
    set(group test)
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

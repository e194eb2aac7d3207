# tavrin_windows_resources(TARGET DESCRIPTION text FILENAME name.exe
#                          [ICON file.ico] [MANIFEST file.manifest.in]
#                          [INCLUDE more.rc])
#
# Gives a Windows program its resources: the icon (resources/icons by
# default), the version information from the project's version, and an
# application manifest. The manifest template is configured with the same
# variables as the resource script (TAVRIN_RC_*, TAVRIN_MANIFEST_ARCH); a
# console tool takes resources/windows/console.manifest.in (the default), a
# window program its own (common controls 6.0 and the rest). INCLUDE adds
# a resource script of further resources (the native wizard's pictures) to
# the program's one: windres numbers the images of all icons in one script
# apart, while two scripts would both start at 1 and collide in the link.
function(tavrin_windows_resources target)
  cmake_parse_arguments(ARG "" "DESCRIPTION;FILENAME;ICON;MANIFEST;INCLUDE" "" ${ARGN})
  if(NOT ARG_ICON)
    set(ARG_ICON ${CMAKE_SOURCE_DIR}/resources/icons/tavrin-msg-to-pst.ico)
  endif()
  if(NOT ARG_MANIFEST)
    set(ARG_MANIFEST ${CMAKE_SOURCE_DIR}/resources/windows/console.manifest.in)
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(TAVRIN_MANIFEST_ARCH x86)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "ARM64|aarch64")
    set(TAVRIN_MANIFEST_ARCH arm64)
  else()
    set(TAVRIN_MANIFEST_ARCH amd64)
  endif()
  set(TAVRIN_RC_ICON ${ARG_ICON})
  set(TAVRIN_RC_DESCRIPTION "${ARG_DESCRIPTION}")
  set(TAVRIN_RC_FILENAME "${ARG_FILENAME}")
  string(REGEX REPLACE "\\.exe$" "" TAVRIN_RC_INTERNAL_NAME "${ARG_FILENAME}")
  set(v ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} 0)
  list(JOIN v "," TAVRIN_RC_VERSION_COMMAS)
  list(JOIN v "." TAVRIN_RC_VERSION_DOTS)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  configure_file(${ARG_MANIFEST} ${dir}/${target}.manifest @ONLY)
  # Resource type 24, id 1: the manifest the loader reads for a program.
  set(TAVRIN_RC_MANIFEST_LINE "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${target}.manifest\"")
  if(ARG_INCLUDE)
    set(TAVRIN_RC_INCLUDE_LINE "#include \"${ARG_INCLUDE}\"")
  else()
    set(TAVRIN_RC_INCLUDE_LINE "")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/resources/windows/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  if(MSVC)
    target_link_options(${target} PRIVATE /MANIFEST:NO)  # the manifest comes from the resource script
  endif()
endfunction()

# Fails when a source file includes a header from a layer it may not use.
#   fs/          nothing of ours above it, no Qt
#   store/core   fs only
#   store/msg    store/core, fs
#   store/pst    store/core, fs; ndb <- ltp <- messaging inside it
#   store/       (session) everything in store/, fs
#   engine/      store/, fs
#   cli/         engine/, store/, fs (a terminal tool: no Qt)
#   ui/, app/    anything
# and nothing below ui/ includes a Win32 user-interface header.
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR not set")
endif()

set(qt_pattern "#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|Qt[A-Za-z]*/)[^>\"]*[>\"]")
# Win32 user-interface headers (windows, dialogs, controls, the shell): the
# native wizard's, never below ui/. <windows.h> itself is the system's API.
set(win32_ui_pattern "#[ \t]*include[ \t]*[<\"](commctrl|commdlg|shlobj|shellapi|shobjidl|uxtheme|richedit|winuser|prsht)\\.h[>\"]")
set(failures "")

function(check_dir dir forbidden_regex)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${dir}/*.h" "${SOURCE_DIR}/${dir}/*.cpp")
  foreach(f IN LISTS files)
    file(STRINGS "${f}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "${qt_pattern}")
        list(APPEND failures "${f}: Qt header below ui/: ${line}")
      elseif(line MATCHES "${win32_ui_pattern}")
        list(APPEND failures "${f}: Win32 UI header below ui/: ${line}")
      elseif(NOT "${forbidden_regex}" STREQUAL "" AND line MATCHES "${forbidden_regex}")
        list(APPEND failures "${f}: upward include: ${line}")
      endif()
    endforeach()
  endforeach()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

check_dir(fs "[<\"](store|engine|ui|cli|app)/")
check_dir(store/core "[<\"](store/msg/|store/pst/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store/msg "[<\"](store/pst/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store/pst/ndb "[<\"](store/msg/|store/pst/ltp/|store/pst/messaging/|store/pst/verify/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store/pst/ltp "[<\"](store/msg/|store/pst/messaging/|store/pst/verify/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store/pst/messaging "[<\"](store/msg/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store "[<\"](engine|ui|cli|app)/")
check_dir(engine "[<\"](ui|cli|app)/")
check_dir(cli "[<\"](ui|app)/")

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "Layer check failed:\n${text}")
endif()

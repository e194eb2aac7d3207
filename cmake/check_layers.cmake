# Fails when a source file includes a header from a layer it may not use.
# Below ui/ nothing includes Qt or the Win32 user interface: no header of
# the common controls, common dialogs or shell, and no call that makes or
# drives a window (fs/ uses <windows.h> for files and code pages only).
#   fs/          nothing of ours above it, no Qt
#   store/core   fs only
#   store/msg    store/core, fs
#   store/mime   store/core, fs
#   store/pst    store/core, fs; ndb <- ltp <- messaging inside it
#   store/       (session) everything in store/, fs
#   engine/      store/, fs
#   cli/         engine/, store/, fs (a terminal tool: no Qt)
#   ui/, app/    anything (ui/win32/ the Win32 user interface, the rest of
#                ui/ Qt)
# Platform code lives in fs/: above it (store/, engine/, cli/) no file tests
# _WIN32 or includes <windows.h> or a POSIX system header, except cli/main.cpp,
# the program's entry point. The front ends (ui/, app/) and their entry
# points are not checked.
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR not set")
endif()

set(qt_pattern "#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|Qt[A-Za-z]*/)[^>\"]*[>\"]")
set(failures "")
set(win32_ui_headers "#[ \t]*include[ \t]*[<\"](commctrl|commdlg|shlobj|shlobj_core|shellapi|shobjidl|shlwapi|uxtheme|windowsx|winuser|prsht|richedit|dwmapi|ole2|oleauto|olectl|exdisp|mshtml)\\.h[>\"]")
set(win32_ui_calls "(^|[^A-Za-z0-9_])(CreateWindow|CreateWindowEx|CreateDialog|DialogBox|MessageBox|MessageBoxEx|ShellExecute|ShellExecuteEx|SHBrowseForFolder|GetSaveFileName|GetOpenFileName|PeekMessage|GetMessage|DispatchMessage|SendMessage|PostMessage|RegisterClass|RegisterClassEx|InitCommonControls|InitCommonControlsEx)[AW]?[ \t]*\\(")

function(check_dir dir forbidden_regex)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${dir}/*.h" "${SOURCE_DIR}/${dir}/*.cpp")
  foreach(f IN LISTS files)
    file(STRINGS "${f}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      string(TOLOWER "${line}" lower)
      if(line MATCHES "${qt_pattern}")
        list(APPEND failures "${f}: Qt header below ui/: ${line}")
      elseif(lower MATCHES "${win32_ui_headers}")
        list(APPEND failures "${f}: Win32 user-interface header below ui/: ${line}")
      elseif(NOT "${forbidden_regex}" STREQUAL "" AND line MATCHES "${forbidden_regex}")
        list(APPEND failures "${f}: upward include: ${line}")
      endif()
    endforeach()
    file(STRINGS "${f}" calls REGEX "${win32_ui_calls}")
    foreach(line IN LISTS calls)
      string(STRIP "${line}" line)
      if(NOT line MATCHES "^//")
        list(APPEND failures "${f}: Win32 user-interface call below ui/: ${line}")
      endif()
    endforeach()
  endforeach()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

set(platform_test "(^|[^A-Za-z0-9_])_WIN32([^A-Za-z0-9_]|$)")
set(platform_headers "#[ \t]*include[ \t]*<(windows|winbase|io|unistd|fcntl|dirent|signal|pthread|iconv|dlfcn|termios|pwd|poll|spawn|sched|sys/[a-z_]+|arpa/[a-z_]+|netinet/[a-z_]+)\\.h>")
set(platform_exempt "${SOURCE_DIR}/cli/main.cpp")  # the entry point

function(check_platform dir)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${dir}/*.h" "${SOURCE_DIR}/${dir}/*.cpp")
  foreach(f IN LISTS files)
    if(f STREQUAL platform_exempt)
      continue()
    endif()
    file(STRINGS "${f}" lines REGEX "^[ \t]*#")
    foreach(line IN LISTS lines)
      string(TOLOWER "${line}" lower)
      if(line MATCHES "${platform_test}" OR lower MATCHES "${platform_headers}")
        list(APPEND failures "${f}: platform code above fs/: ${line}")
      endif()
    endforeach()
  endforeach()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

check_dir(fs "[<\"](store|engine|ui|cli|app)/")
check_dir(store/core "[<\"](store/msg/|store/pst/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store/msg "[<\"](store/pst/|store/mime/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store/mime "[<\"](store/pst/|store/msg/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store/pst/ndb "[<\"](store/msg/|store/pst/ltp/|store/pst/messaging/|store/pst/verify/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store/pst/ltp "[<\"](store/msg/|store/pst/messaging/|store/pst/verify/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store/pst/messaging "[<\"](store/msg/|store/[a-z_]+\\.h|engine/|ui/|cli/|app/)")
check_dir(store "[<\"](engine|ui|cli|app)/")
check_dir(engine "[<\"](ui|cli|app)/")
check_dir(cli "[<\"](ui|app)/")
check_platform(store)
check_platform(engine)
check_platform(cli)

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "Layer check failed:\n${text}")
endif()

# Installs the build into a scratch prefix and checks that the wizard's
# desktop entry, icons and help pages land where the desktop and the
# program look for them.
if(NOT BINARY_DIR OR NOT PREFIX)
  message(FATAL_ERROR "BINARY_DIR and PREFIX must be set")
endif()
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BINARY_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
set(expected
  bin/tavrin-msg-to-pst
  share/applications/tavrin-msg-to-pst.desktop
  share/icons/hicolor/16x16/apps/tavrin-msg-to-pst.png
  share/icons/hicolor/48x48/apps/tavrin-msg-to-pst.png
  share/icons/hicolor/256x256/apps/tavrin-msg-to-pst.png
  share/tavrin-msg-to-pst/help/msg-to-pst/index.html
  share/tavrin-msg-to-pst/help/h/msg-to-pst/index.html
  share/tavrin-msg-to-pst/help/help/downgrade-office-2010-to-32-bit.pdf)
foreach(f IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(STRINGS "${PREFIX}/share/applications/tavrin-msg-to-pst.desktop" entry)
foreach(line "Exec=tavrin-msg-to-pst" "Icon=tavrin-msg-to-pst" "Type=Application")
  list(FIND entry "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "desktop entry lacks ${line}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")

# Run by `cmake --install`: writes the desktop entry with the full paths of the
# program and its icon under the prefix of this install, and installs it.
# Given: ZELK_DESKTOP_IN, ZELK_DESKTOP_OUT, and ZELK_BINDIR and ZELK_DATADIR,
# each relative to the prefix or absolute.
foreach(dir ZELK_BINDIR ZELK_DATADIR)
  if(NOT IS_ABSOLUTE "${${dir}}")
    set(${dir} "${CMAKE_INSTALL_PREFIX}/${${dir}}")
  endif()
endforeach()
set(ZELK_DESKTOP_EXEC "${ZELK_BINDIR}/ZelkSolver")
if(ZELK_DESKTOP_EXEC MATCHES " ")
  # A quoted path stays one word of the command line.
  set(ZELK_DESKTOP_EXEC "\"${ZELK_DESKTOP_EXEC}\"")
endif()
set(ZELK_DESKTOP_ICON "${ZELK_DATADIR}/icons/hicolor/128x128/apps/zelksolver.png")
configure_file("${ZELK_DESKTOP_IN}" "${ZELK_DESKTOP_OUT}" @ONLY)
file(INSTALL DESTINATION "${ZELK_DATADIR}/applications" TYPE FILE FILES "${ZELK_DESKTOP_OUT}")

# Where `cmake --install` and the package put the programs and their files.
include(GNUInstallDirs)

# Manual pages go out compressed, without a time stamp, as Debian wants them.
# The page's header names the project version.
function(kestra_man_page name)
  set(page ${CMAKE_BINARY_DIR}/man/${name}.1)
  set(out ${page}.gz)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${name}.1 ${page} @ONLY)
  add_custom_command(OUTPUT ${out} COMMAND gzip -9n -c ${page} > ${out} DEPENDS ${page})
  add_custom_target(${name}-man ALL DEPENDS ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

install(TARGETS kestra-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
kestra_man_page(kestra-cli)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestra-cli.bash RENAME kestra-cli
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/gui/help/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kestra/help)

set(KESTRA_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${KESTRA_CHANGELOG}
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${KESTRA_CHANGELOG}
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
add_custom_target(kestra-changelog ALL DEPENDS ${KESTRA_CHANGELOG})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${KESTRA_CHANGELOG}
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(TARGET kestra)
  install(TARGETS kestra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  kestra_man_page(kestra)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestra.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

  set(KESTRA_ICON_SIZES 16 22 24 32 48 64 128 256)
  set(KESTRA_ICONS)
  foreach(size ${KESTRA_ICON_SIZES})
    list(APPEND KESTRA_ICONS ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps/kestra.png)
  endforeach()
  add_custom_command(OUTPUT ${KESTRA_ICONS}
    COMMAND kestra-render-icons ${CMAKE_BINARY_DIR}/icons ${KESTRA_ICON_SIZES}
    DEPENDS kestra-render-icons VERBATIM)
  add_custom_target(kestra-icons ALL DEPENDS ${KESTRA_ICONS})
  install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()

# What `cmake --install` puts under a prefix P, and so what the Debian
# package holds (with P = /usr):
#   bin/                          filemaker-host, acrobat-host
#   lib/quillmark/                the shared platform libraries
#   lib/quillmark/Extensions/     QuillmarkFM.fmplugin
#   lib/quillmark/Plug-ins/       QuillmarkAcro.acroplugin
#   lib/quillmark/Applications/   Acrobat.app, whose executable is a relative
#                                 link to bin/acrobat-host
#   share/doc/quillmark/          copyright, examples/
#   share/man/man1, share/man/man7
# Nothing installed names P or the build tree: libraries are found through
# $ORIGIN-relative run paths, folders from the running program (see
# InstallFolders.h), so the whole tree can be moved. Tests, benchmarks, fuzz
# targets and build tools are not installed.
set(QUILL_INSTALL_PKGLIB lib/quillmark)
set(QUILL_INSTALL_DOC share/doc/quillmark)
set(_fm_bundle ${QUILL_INSTALL_PKGLIB}/Extensions/QuillmarkFM.fmplugin/Contents)
set(_acro_bundle ${QUILL_INSTALL_PKGLIB}/Plug-ins/QuillmarkAcro.acroplugin/Contents)
set(_app_bundle ${QUILL_INSTALL_PKGLIB}/Applications/Acrobat.app/Contents)

set(_platform_libs quill_foundation quill_apple_events quill_process quill_fmx)
set_target_properties(filemaker-host acrobat-host PROPERTIES INSTALL_RPATH "$ORIGIN/../${QUILL_INSTALL_PKGLIB}")
set_target_properties(${_platform_libs} PROPERTIES INSTALL_RPATH "$ORIGIN")
# The merge's plan program reads records as filemaker-host does, with its libraries beside it.
set_target_properties(quill-merge-plan PROPERTIES INSTALL_RPATH "$ORIGIN")
# <pkglib>/<Folder>/<Name>.bundle/Contents/MacOS/<Name>: four levels below <pkglib>.
set_target_properties(QuillmarkFM QuillmarkAcro PROPERTIES INSTALL_RPATH "$ORIGIN/../../../..")

install(TARGETS filemaker-host acrobat-host RUNTIME DESTINATION bin)
# The mail merge's plan and report programs are the example's own helpers, not commands.
install(TARGETS quill-merge-report quill-merge-plan RUNTIME DESTINATION ${QUILL_INSTALL_PKGLIB})
install(TARGETS ${_platform_libs} LIBRARY DESTINATION ${QUILL_INSTALL_PKGLIB})
install(TARGETS QuillmarkFM LIBRARY DESTINATION ${_fm_bundle}/MacOS)
install(FILES ${PROJECT_SOURCE_DIR}/fm_plugin/resources/en.lproj/Quillmark.strings
  DESTINATION ${_fm_bundle}/Resources/en.lproj)
install(TARGETS QuillmarkAcro LIBRARY DESTINATION ${_acro_bundle}/MacOS)

# The application bundle the launch call finds. Its executable is a relative
# link, made here once and installed as a link.
install(FILES ${CMAKE_BINARY_DIR}/Applications/Acrobat.app/Contents/Info DESTINATION ${_app_bundle})
set(_app_link ${CMAKE_BINARY_DIR}/install-links/AdobeAcrobat)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
file(CREATE_LINK ../../../../../../bin/acrobat-host ${_app_link} SYMBOLIC)
install(FILES ${_app_link} DESTINATION ${_app_bundle}/MacOS)

install(FILES ${PROJECT_SOURCE_DIR}/examples/demo.fmscript ${PROJECT_SOURCE_DIR}/examples/form.pdf
  ${PROJECT_SOURCE_DIR}/examples/appendix.pdf DESTINATION ${QUILL_INSTALL_DOC}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/examples/merge.fmscript ${PROJECT_SOURCE_DIR}/examples/members.csv ${PROJECT_SOURCE_DIR}/examples/members.map
  DESTINATION ${QUILL_INSTALL_DOC}/examples)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/examples/demo.sh ${PROJECT_SOURCE_DIR}/examples/merge.sh
  DESTINATION ${QUILL_INSTALL_DOC}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/doc/copyright DESTINATION ${QUILL_INSTALL_DOC})

# Manual pages, compressed as Debian installs them (no name or time stamp in
# the gzip header, so that the package is reproducible).
set(_man_pages filemaker-host.1 acrobat-host.1 quillmark.7)
set(_man_gz)
foreach(page ${_man_pages})
  set(_src ${PROJECT_SOURCE_DIR}/doc/man/${page})
  set(_gz ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${_src} > ${_gz}
    DEPENDS ${_src}
    COMMENT "Manual page ${page}")
  list(APPEND _man_gz ${_gz})
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" _section ${page})
  install(FILES ${_gz} DESTINATION share/man/man${_section})
endforeach()
# The changelog, as Debian's policy wants it beside the copyright.
set(_changelog_gz ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${_changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/doc/changelog > ${_changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/doc/changelog
  COMMENT "changelog.gz")
install(FILES ${_changelog_gz} DESTINATION ${QUILL_INSTALL_DOC})
add_custom_target(quill_man_pages ALL DEPENDS ${_man_gz} ${_changelog_gz})

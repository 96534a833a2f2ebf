# The Debian package: `cpack -G DEB` in the build folder (scripts/package)
# writes build/quillmark_<version>_<arch>.deb from the install rules, with
# the run-time dependencies worked out by dpkg-shlibdeps.
execute_process(COMMAND dpkg --print-architecture
  OUTPUT_VARIABLE QUILL_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT QUILL_DEB_ARCH)
  set(QUILL_DEB_ARCH amd64)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillmark")
set(CPACK_PACKAGE_CONTACT "Quillmark developers <dev@quillmark.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "FileMaker-style scripts that fill and edit PDF forms")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillmark lets a FileMaker-style script work on PDF documents through a\n"
  "running PDF application: open a PDF, fill and read its form fields, read\n"
  "page text and document information, insert, delete and append pages, save,\n"
  "print and close.\n"
  ".\n"
  "This package holds filemaker-host, which evaluates calculations and scripts\n"
  "with the twenty Torv_ functions of the QuillmarkFM plug-in, and\n"
  "acrobat-host, the PDF application (libqpdf, poppler, CUPS) that the\n"
  "QuillmarkAcro plug-in answers in. filemaker-host starts acrobat-host itself.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME "quillmark_${PROJECT_VERSION}_${QUILL_DEB_ARCH}.deb")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QUILL_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The platform libraries live in the package's own folder, not in a library
# package; dpkg-shlibdeps is told where they are while it runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
# GTK is loaded only when a file panel opens, so a server without a desktop
# installs without it. A value a field's own font cannot show is drawn in an
# installed face found through fontconfig: Noto for most scripts, Noto CJK,
# Symbola for symbols, Unifont for whatever is left. The demo draws page 1
# with pdftoppm (the merge draws its contact sheets itself, with cairo and
# Pango); printing needs a CUPS server.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgtk-3-0, fonts-noto-core, fonts-noto-cjk, fonts-symbola, fonts-unifont")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "poppler-utils, cups")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb/DropLdconfig.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

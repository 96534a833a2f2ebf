# Run by CPack after it made the Debian package (CPACK_POST_BUILD_SCRIPTS).
# CPack adds postinst and postrm scripts calling ldconfig to any package
# with a shared library below /usr/lib. Quillmark's libraries are private
# (/usr/lib/quillmark, found through run paths), so the loader's cache has
# nothing to learn from them: neither those scripts nor an ldconfig trigger
# belong in the package. The package is unpacked, the two scripts (when they
# only call ldconfig) are dropped, and it is built again.
foreach(_deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _deb MATCHES "\\.deb$")
    continue()
  endif()
  set(_dir "${_deb}.d")
  file(REMOVE_RECURSE "${_dir}")
  execute_process(COMMAND dpkg-deb -R "${_deb}" "${_dir}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -R ${_deb} failed")
  endif()
  foreach(_script postinst postrm)
    set(_path "${_dir}/DEBIAN/${_script}")
    if(EXISTS "${_path}")
      file(READ "${_path}" _text)
      string(REGEX REPLACE "#![^\n]*|set -e|if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then|ldconfig|fi" "" _rest "${_text}")
      if(NOT _rest MATCHES "^[ \t\n]*$")
        message(FATAL_ERROR "${_script} does more than call ldconfig:\n${_text}")
      endif()
      file(REMOVE "${_path}")
    endif()
  endforeach()
  execute_process(COMMAND dpkg-deb --root-owner-group -b "${_dir}" "${_deb}" OUTPUT_QUIET RESULT_VARIABLE _rc)
  file(REMOVE_RECURSE "${_dir}")
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -b ${_deb} failed")
  endif()
endforeach()

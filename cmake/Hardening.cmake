# Hardening for the release build, which the Debian package is made from: the
# flags dpkg-buildflags gives with every hardening feature on (fortified
# calls, stack protector, read-only relocations, immediate binding), added to
# the project's own. Builds for the sanitizers and the fuzzers keep theirs.
option(QUILL_HARDENING "Add dpkg-buildflags' hardening flags to a release build" ON)
if(QUILL_HARDENING AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$" AND NOT QUILL_FUZZ)
  find_program(QUILL_DPKG_BUILDFLAGS dpkg-buildflags)
  if(QUILL_DPKG_BUILDFLAGS)
    foreach(_kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${QUILL_DPKG_BUILDFLAGS} --get ${_kind}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE)
      separate_arguments(_flags UNIX_COMMAND "${_flags}")
      # The build type chooses optimisation and debug information.
      list(FILTER _flags EXCLUDE REGEX "^-(O[0-9s]?|g)$")
      if(_kind STREQUAL "LDFLAGS")
        add_link_options(${_flags})
      else()
        add_compile_options(${_flags})
      endif()
    endforeach()
    # Fortified headers mark more calls warn_unused_result than the project's
    # own -Werror build sees: shown, but not fatal.
    add_compile_options(-Wno-error=unused-result)
  endif()
endif()

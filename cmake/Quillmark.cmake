# Build helpers shared by every folder.

# The real-world PDFs the tests and benches read, with their origin, licence
# and ground truth; they live in the repository, so a clone stands alone.
set(QUILL_FIXTURES_DIR "${PROJECT_SOURCE_DIR}/tests/fixtures")
# Every test and bench that reads them links this, and nothing else defines
# the path: QUILL_FIXTURES_DIR in the code.
add_library(quill_fixtures INTERFACE)
target_compile_definitions(quill_fixtures INTERFACE QUILL_FIXTURES_DIR="${QUILL_FIXTURES_DIR}")

# A test or bench that names a fixture the tree does not hold fails the
# configure step, not a test run: every name read as fixture("x.pdf"),
# kPdfs + "x.pdf" or ... / "pdfs" / "x.pdf" must be a file of tests/fixtures/pdfs.
function(quill_check_fixtures)
  file(GLOB_RECURSE _sources
    ${PROJECT_SOURCE_DIR}/tests/*.cpp ${PROJECT_SOURCE_DIR}/tests/*.h
    ${PROJECT_SOURCE_DIR}/bench/*.cpp ${PROJECT_SOURCE_DIR}/fuzz/*.cpp)
  set(_missing "")
  foreach(_src ${_sources})
    file(STRINGS ${_src} _lines REGEX "(fixture\\(|kPdfs|\"pdfs\")")
    foreach(_line IN LISTS _lines)
      string(REGEX MATCHALL "(fixture\\(|kPdfs \\+ |\"pdfs\" / )\"[^\"/]+\\.pdf\"" _names "${_line}")
      foreach(_quoted IN LISTS _names)
        string(REGEX REPLACE "^.*\"([^\"]*)\"$" "\\1" _name "${_quoted}")
        if(NOT EXISTS "${QUILL_FIXTURES_DIR}/pdfs/${_name}")
          file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR} ${_src})
          list(APPEND _missing "${_rel}: ${_name}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(_missing)
    list(JOIN _missing "\n  " _text)
    message(FATAL_ERROR "Fixtures named by tests but not in tests/fixtures/pdfs:\n  ${_text}")
  endif()
endfunction()

# Warnings are errors in our own code (never in third-party headers, which
# come in as SYSTEM includes through their imported targets).
function(quill_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wno-unused-parameter -Wno-missing-field-initializers)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 reports false positives inside libstdc++'s own string code at -O2.
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized -Wno-stringop-overflow -Wno-array-bounds)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(${target} PRIVATE -Wno-gnu-zero-variadic-macro-arguments -Wno-nested-anon-types)
  endif()
endfunction()

# A plug-in: a shared module whose only exported symbols are its C entries
# (marked with __attribute__((visibility("default")))), laid out as a bundle:
#   quill_bundle(target DIR <bundle folder> NAME <executable name>)
# The executable goes to <bundle folder>/Contents/MacOS/<name>.
function(quill_bundle target)
  cmake_parse_arguments(B "" "DIR;NAME" "" ${ARGN})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX "" OUTPUT_NAME ${B_NAME}
    LIBRARY_OUTPUT_DIRECTORY ${B_DIR}/Contents/MacOS
    CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
endfunction()

# One line registers a test (label unit unless LABELS are given):
#   quill_test(name SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l1 l2] [TIMEOUT s])
function(quill_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  quill_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} quill_bridge quill_fixtures GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE
    QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUILL_BUILD_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(NOT T_LABELS)
    # One process, fast, no services: what CI also runs under the sanitizers.
    set(T_LABELS unit)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
endfunction()

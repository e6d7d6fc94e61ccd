# No precompiled header: one of <QtCore/QtCore> is 270 MB with debug info and
# loading it cost more per file (mostly system time) than parsing the headers a
# file includes; unity builds parse those once per batch instead.
#
# Unity builds put several sources of a target in one translation unit. Xlib
# defines macros (None, Status, Bool, Success) that would leak into the files
# after it, so a source that includes it is compiled on its own.
function(pravik_keep_xlib_apart)
  foreach(_src ${ARGN})
    file(STRINGS ${_src} _xlib REGEX "^#include <X11/")
    if(_xlib)
      set_source_files_properties(${_src} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endforeach()
endfunction()

# One static library per source folder; sources are picked up by glob so that
# adding a class never means editing a shared list.
function(pravik_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*/*.cpp)
  file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*/*.h)
  if(NOT _sources)
    # A folder whose classes are not written yet still gives a target.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${_sources} ${_headers})
  pravik_keep_xlib_apart(${_sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# Under the sanitizers test code is compiled without optimisation: at -O1 the
# gtest-heavy sources took about 40 % longer to compile, and the sanitizers
# check -O0 code just as well. The libraries under test stay at -O1.
function(pravik_test_code name)
  if(PRAVIK_SANITIZE)
    target_compile_options(${name} PRIVATE -O0)
  endif()
endfunction()

# One test binary per folder, registered with CTest.
function(pravik_test name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _sources)
    return()
  endif()
  add_executable(${name} ${_sources})
  pravik_keep_xlib_apart(${_sources})
  pravik_test_code(${name})
  # The release tree compiles the tests only to hold them to the second
  # compiler's warnings (CI runs them in the sanitizer tree): no optimisation.
  if(NOT PRAVIK_SANITIZE AND CMAKE_BUILD_TYPE STREQUAL "Release")
    target_compile_options(${name} PRIVATE -O0)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} pravik_fakes GTest::gtest GTest::gmock)
  add_dependencies(${name} pravik_resources)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PRAVIK_RESOURCES=${CMAKE_BINARY_DIR}/resources;PRAVIK_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}/tests"
    TIMEOUT 600)
endfunction()

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
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  target_precompile_headers(${name} PRIVATE <QtCore/QtCore>)
endfunction()

# One test binary per folder, registered with CTest.
function(pravik_test name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _sources)
    return()
  endif()
  add_executable(${name} ${_sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} pravik_fakes GTest::gtest GTest::gmock)
  target_precompile_headers(${name} PRIVATE <QtCore/QtCore> <gtest/gtest.h>)
  add_dependencies(${name} pravik_resources)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PRAVIK_RESOURCES=${CMAKE_BINARY_DIR}/resources;PRAVIK_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}/tests"
    TIMEOUT 600)
endfunction()

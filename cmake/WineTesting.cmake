# Test executables are Windows programs; ctest runs them under Wine when cross-compiling.
set(KORVANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Private Wine prefix for the tests")

if(CMAKE_CROSSCOMPILING)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  set(KORVANE_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run.sh)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANE_WINE_RUN})
endif()

set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(KORVANE_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
add_subdirectory(${KORVANE_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# korvane_add_test(NAME SOURCES... LIBS libs...): one GoogleTest executable, one ctest entry.
function(korvane_add_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  korvane_warnings(${name})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} korvane_test_support GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_server)
  endif()
endfunction()

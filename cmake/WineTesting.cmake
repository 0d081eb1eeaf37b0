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

# korvane_add_test(NAME [DISPLAY] SOURCES... LIBS libs...): one GoogleTest executable, one ctest
# entry. DISPLAY runs it with a private Xvfb server, for tests that open windows.
function(korvane_add_test name)
  cmake_parse_arguments(arg "DISPLAY" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  korvane_warnings(${name})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} korvane_test_support GTest::gtest_main)
  if(arg_DISPLAY AND CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-xvfb.sh ${KORVANE_WINE_RUN}
                                  $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_server)
  endif()
endfunction()

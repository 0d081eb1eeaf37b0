# The loopback servers for tests that use the network (tests/server/loopback_server.py): scripted
# HTTPS and HTTP listeners, listeners with refused certificates, and nginx over TLS, all on
# 127.0.0.1, with a test CA made at test time and trusted only inside the test Wine prefix.
#
# One ctest fixture, `test_servers`, starts them before the first test that needs them, trusts the
# CA in the prefix (trust_test_ca.exe) before any such test runs, and stops them after the last one.
# The servers also end by themselves after a few idle minutes, so an interrupted run cannot leave
# them behind. A test opts in with korvane_use_test_servers(<test>); test::LoopbackServer
# (tests/support/loopback_server.h) finds them through KORVANE_TEST_SERVERS.
find_program(KORVANE_PYTHON3 python3 REQUIRED)
set(KORVANE_TEST_SERVERS_DIR ${CMAKE_BINARY_DIR}/test-servers)
set(KORVANE_TEST_SERVER_SCRIPT ${CMAKE_SOURCE_DIR}/tests/server/loopback_server.py)

add_executable(trust_test_ca ${CMAKE_SOURCE_DIR}/tests/support/trust_test_ca.cpp)
korvane_warnings(trust_test_ca)
target_link_libraries(trust_test_ca PRIVATE korvane_common crypt32)
target_link_options(trust_test_ca PRIVATE -municode)

add_library(korvane_test_servers STATIC ${CMAKE_SOURCE_DIR}/tests/support/loopback_server.cpp)
korvane_warnings(korvane_test_servers)
korvane_expose_folder(korvane_test_servers PUBLIC tests)
target_link_libraries(korvane_test_servers PUBLIC korvane_json korvane_common PRIVATE korvane_test_support ws2_32)

add_test(NAME test_servers_start
         COMMAND ${KORVANE_PYTHON3} ${KORVANE_TEST_SERVER_SCRIPT} start ${KORVANE_TEST_SERVERS_DIR}
                 ${KORVANE_LOOPBACK_RELEASE_PORT})
add_test(NAME test_servers_trust COMMAND trust_test_ca Z:${KORVANE_TEST_SERVERS_DIR}/ca.der)
add_test(NAME test_servers_stop
         COMMAND ${KORVANE_PYTHON3} ${KORVANE_TEST_SERVER_SCRIPT} stop ${KORVANE_TEST_SERVERS_DIR})
set_tests_properties(test_servers_start PROPERTIES FIXTURES_SETUP test_servers)
# The servers sign release manifests on request (POST /sign) with the native release tool and the
# development key: CNG cannot sign under Wine 8, and a manifest naming a package on a listener
# whose port is only known once the servers run cannot be signed earlier.
set(KORVANE_HOST_BUILD ${CMAKE_BINARY_DIR}/host CACHE PATH "Native build folder of the release tool")
set_property(TEST test_servers_start APPEND PROPERTY ENVIRONMENT
             KORVANE_RELEASE_TOOL=${KORVANE_HOST_BUILD}/korvane-release
             KORVANE_RELEASE_SIGNING_KEY=${KORVANE_RELEASE_SIGNING_KEY_IN_USE})
set_tests_properties(test_servers_trust PROPERTIES FIXTURES_SETUP test_servers DEPENDS test_servers_start
                                                   FIXTURES_REQUIRED wine_server)
set_tests_properties(test_servers_stop PROPERTIES FIXTURES_CLEANUP test_servers)

function(korvane_use_test_servers test)
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED test_servers)
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT KORVANE_TEST_SERVERS=${KORVANE_TEST_SERVERS_DIR})
endfunction()

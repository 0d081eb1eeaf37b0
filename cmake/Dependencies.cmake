# Third-party code is installed by the set-up script and compiled here, never copied into the tree:
#   nlohmann JSON  - Debian's nlohmann-json3-dev (header-only);
#   miniz          - the npm registry's miniz.c package, pinned in package-lock.json (npm ci);
#   GoogleTest     - Debian's googletest sources in /usr/src/googletest (tests only).
# On a Windows host (MSVC + vcpkg) the first two come from find_package instead.

if(CMAKE_HOST_WIN32)
  find_package(nlohmann_json CONFIG REQUIRED)
  find_package(miniz CONFIG REQUIRED)
  add_library(korvane_json INTERFACE)
  target_link_libraries(korvane_json INTERFACE nlohmann_json::nlohmann_json)
  add_library(korvane_miniz INTERFACE)
  target_link_libraries(korvane_miniz INTERFACE miniz::miniz)
  return()
endif()

# The Debian header lives in /usr/include, which must not reach the MinGW compiler (glibc headers
# would shadow the Windows C library). Expose only the nlohmann folder through a private include dir.
set(KORVANE_NLOHMANN_DIR /usr/include/nlohmann CACHE PATH "Folder holding nlohmann/json.hpp")
if(NOT EXISTS ${KORVANE_NLOHMANN_DIR}/json.hpp)
  message(FATAL_ERROR "nlohmann JSON not found in ${KORVANE_NLOHMANN_DIR} (apt-get install nlohmann-json3-dev)")
endif()
set(korvane_dep_include ${CMAKE_BINARY_DIR}/deps/include)
file(MAKE_DIRECTORY ${korvane_dep_include})
file(CREATE_LINK ${KORVANE_NLOHMANN_DIR} ${korvane_dep_include}/nlohmann SYMBOLIC)
add_library(korvane_json INTERFACE)
target_include_directories(korvane_json SYSTEM INTERFACE ${korvane_dep_include})

set(KORVANE_MINIZ_DIR ${CMAKE_SOURCE_DIR}/node_modules/miniz.c CACHE PATH "Folder holding miniz.c and miniz.h")
include(${CMAKE_CURRENT_LIST_DIR}/Miniz.cmake)
korvane_miniz_library(korvane_miniz ${KORVANE_MINIZ_DIR})
set_target_properties(korvane_miniz PROPERTIES POSITION_INDEPENDENT_CODE ON)

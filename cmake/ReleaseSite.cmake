# The release site is a build-time choice: the window names it while downloading and the install
# worker fetches the release manifest from it. Code calls release_site_host() (release/release_site.h);
# each executable links one definition, made here from a host name.
set(KORVANE_RELEASE_HOST "downloads.korvane.ru" CACHE STRING
    "Host of the release site serving https://<host>/downloads/launcher-release.json")
# Tests and the demo build the same program against a release site on this machine.
set(KORVANE_LOOPBACK_RELEASE_PORT 47443 CACHE STRING
    "Port of the loopback release site used by the end-to-end tests and the demo")

# korvane_release_site_library(NAME HOST): an object library holding release_site_host() = HOST.
function(korvane_release_site_library name host)
  if(NOT host MATCHES "^[A-Za-z0-9.-]+(:[0-9]+)?$")
    message(FATAL_ERROR "release site host must be a host name with an optional :port (got '${host}')")
  endif()
  set(KORVANE_SITE_HOST ${host})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/release_site.cpp.in ${CMAKE_BINARY_DIR}/generated/${name}.cpp @ONLY)
  # Objects, not an archive: the definition reaches the link whatever the order of the libraries.
  add_library(${name} OBJECT ${CMAKE_BINARY_DIR}/generated/${name}.cpp)
  target_link_libraries(${name} PRIVATE korvane_release)
endfunction()

korvane_release_site_library(korvane_release_site ${KORVANE_RELEASE_HOST})
korvane_release_site_library(korvane_release_site_loopback localhost:${KORVANE_LOOPBACK_RELEASE_PORT})

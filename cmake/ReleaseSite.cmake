# The release site is a build-time choice: the window names it while downloading and the install
# worker fetches the release manifest from it. Both include "release_site.h" from korvane_release_site.
set(KORVANE_RELEASE_HOST "downloads.korvane.ru" CACHE STRING
    "Host of the release site serving https://<host>/downloads/launcher-release.json")
configure_file(${CMAKE_CURRENT_LIST_DIR}/release_site.h.in ${CMAKE_BINARY_DIR}/generated/release_site.h @ONLY)
add_library(korvane_release_site INTERFACE)
target_include_directories(korvane_release_site INTERFACE ${CMAKE_BINARY_DIR}/generated)

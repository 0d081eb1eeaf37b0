#pragma once

namespace release {

// The release site's host (optionally with ":port"), which serves the signed release manifest
// "/downloads/launcher-release.json" over HTTPS. A build-time choice: each executable links the one
// definition made for it from a CMake setting (korvane_release_site_library in
// cmake/ReleaseSite.cmake), so the product and its loopback test build share every other line.
const char* release_site_host();

}  // namespace release

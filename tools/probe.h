#pragma once

#include <ostream>
#include <string>

namespace tools {

struct ProbeOptions {
    std::string setup;     // the Korvane-Setup.exe whose key and host decide
    std::string siteRoot;  // "https://host[:port]"; empty: the host built into the exe
    std::string caFile;    // empty: the system's trust store
};

// Checks a live release site the way the installer will: the manifest at its path (HTTPS, status,
// type, caching), its fields and signature under the exe's key, then the package it names (status,
// size, SHA-256, byte ranges, caching). Prints one line per check, "pass" or "FAIL" with what to do;
// true when every check passed.
bool probe_release_site(const ProbeOptions& options, std::ostream& out);

}  // namespace tools

#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace tools {

// Where the installer looks on the release site: it fetches this path from the host it has built in,
// then the package from the URL the manifest names.
inline constexpr char kManifestSitePath[] = "downloads/launcher-release.json";

// The package's place in a site folder, from its https URL: the URL's path, which must be plain
// (no query, fragment, escapes, dot or empty segments) so it names the same file on disk and on
// the server. Throws std::runtime_error otherwise.
std::filesystem::path site_path_of_url(const std::string& url);

// Lays out a release in the site folder `site`: a copy of `package` at the path of the manifest's
// URL, then the manifest (already signed) at downloads/launcher-release.json. The package goes first
// so the site never names a file it lacks. A published package never changes under its URL (the
// site lets caches keep it for good): different bytes at that place are refused, the same bytes are
// kept. Nothing is followed through a symbolic link, and a failure leaves no new file behind.
// `checkManifest` reads the written manifest before it takes its name and throws to refuse it.
void lay_out_release_site(const std::filesystem::path& package, const nlohmann::json& manifest,
                          const std::filesystem::path& site,
                          const std::function<void(const std::filesystem::path&)>& checkManifest);

}  // namespace tools

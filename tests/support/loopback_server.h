#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test {

// The loopback servers of tests/server/loopback_server.py, started for the test run by the ctest
// fixture `test_servers` (korvane_use_test_servers in cmake/TestServers.cmake), whose CA is trusted
// in the test prefix only. Listeners: "https" (a localhost certificate from the test CA), "http",
// "wrong_host", "expired", "untrusted" (certificates that must be refused) and "nginx" (a real nginx
// serving www() over TLS). Control goes over plain HTTP on 127.0.0.1 with Winsock, never through the
// client under test.
class LoopbackServer {
public:
    // The running servers; fails the calling test when the fixture did not start them.
    static LoopbackServer& get();

    // Forgets every script, file and record: call at the start of each test.
    void reset();
    // Until the next reset, the listener accepts connections and never answers the TLS handshake.
    void mute(const std::string& listener);
    // Queues answers for a path (see loopback_server.py); the last one repeats.
    void script(const std::string& path, const std::vector<nlohmann::json>& responses);
    // A deterministic file of `size` bytes that "file" answers serve; returns its SHA-256 (hex).
    std::string make_file(const std::string& name, uint64_t size, int seed);
    // Serves a copy of an existing file (a path in the prefix) to "file" answers under `name`;
    // returns its SHA-256 (hex).
    std::string serve_copy(const std::string& name, const std::filesystem::path& file);
    // The release manifest a publisher would upload for `package`: made and signed on the Linux
    // side by the release tool with the development key that the test build trusts.
    // `unchecked` signs with plain openssl, for a package the release tool refuses to sign.
    nlohmann::json signed_manifest(const std::filesystem::path& package, const std::string& version,
                                   const std::string& url, bool unchecked = false);
    // {"records": [{"listener", "method", "path", "headers": [[name, value]], "body"}], "connections": {...}}
    nlohmann::json records();

    uint16_t port(const std::string& listener) const;
    // "https://localhost:<port>" + path for TLS listeners, "http://localhost:<port>" + path for "http".
    std::string url(const std::string& listener, const std::string& path) const;
    // The folder that nginx serves, as a Windows path.
    std::filesystem::path www() const;

private:
    LoopbackServer();
    nlohmann::json control(const std::string& command, const nlohmann::json& body);

    nlohmann::json ports_;
    std::filesystem::path www_;
};

// The value of a header in a recorded request (case-insensitive name), or empty when absent.
std::string recorded_header(const nlohmann::json& record, const std::string& name);

}  // namespace test

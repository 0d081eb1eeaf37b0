#include "tests/support/loopback_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "common/unique_handle.h"
#include "tests/support/unix_link.h"

namespace test {

namespace {

// INVALID_SOCKET is ~0, which is -1 as a signed number.
using UniqueSocket = common::UniqueAny<SOCKET, ::closesocket, -1>;

// Linux paths reach Windows programs through the Z: drive.
std::filesystem::path windows_path_of_unix(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return std::filesystem::path(path);
}

// One HTTP/1.0 exchange with the control port; the server closes after answering.
std::string exchange(uint16_t port, const std::string& target, const std::string& body) {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) {
        throw std::runtime_error("WSAStartup failed");
    }
    UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!socket || connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot reach the loopback server's control port");
    }
    const std::string request =
        "POST " + target + " HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    for (size_t sent = 0; sent < request.size();) {
        const int count = send(socket.get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (count <= 0) throw std::runtime_error("control request not sent");
        sent += static_cast<size_t>(count);
    }
    std::string answer;
    char buffer[65536];
    for (int count; (count = recv(socket.get(), buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<size_t>(count));
    }
    const size_t bodyStart = answer.find("\r\n\r\n");
    if (bodyStart == std::string::npos) {
        throw std::runtime_error("malformed control answer");
    }
    return answer.substr(bodyStart + 4);
}

}  // namespace

LoopbackServer& LoopbackServer::get() {
    static LoopbackServer server;
    return server;
}

LoopbackServer::LoopbackServer() {
    const char* state = std::getenv("KORVANE_TEST_SERVERS");
    if (state == nullptr) {
        throw std::runtime_error("KORVANE_TEST_SERVERS is not set: run this test through ctest (test_servers fixture)");
    }
    std::ifstream ports(windows_path_of_unix(std::string(state) + "/ports"));
    if (!ports) {
        throw std::runtime_error("the loopback servers are not running (no ports file)");
    }
    for (std::string line; std::getline(ports, line);) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string name = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (name == "www") {
            www_ = windows_path_of_unix(value);
        } else {
            ports_[name] = std::stoi(value);
        }
    }
}

nlohmann::json LoopbackServer::control(const std::string& command, const nlohmann::json& body) {
    nlohmann::json answer =
        nlohmann::json::parse(exchange(port("control"), command, body.is_null() ? "" : body.dump()));
    if (answer.contains("error")) {
        throw std::runtime_error(answer["error"].get<std::string>());
    }
    return answer;
}

void LoopbackServer::reset() {
    control("/reset", nullptr);
}

void LoopbackServer::mute(const std::string& listener) {
    control("/mute", {{"listener", listener}});
}

void LoopbackServer::script(const std::string& path, const std::vector<nlohmann::json>& responses) {
    control("/script", {{"path", path}, {"responses", responses}});
}

std::string LoopbackServer::make_file(const std::string& name, uint64_t size, int seed) {
    return control("/file", {{"name", name}, {"size", size}, {"seed", seed}})["sha256"].get<std::string>();
}

std::string LoopbackServer::serve_copy(const std::string& name, const std::filesystem::path& file) {
    return control("/file", {{"name", name}, {"path", unix_path_of(file)}})["sha256"].get<std::string>();
}

nlohmann::json LoopbackServer::signed_manifest(const std::filesystem::path& package, const std::string& version,
                                               const std::string& url, bool unchecked) {
    return control(
        "/sign",
        {{"package", unix_path_of(package)}, {"version", version}, {"url", url}, {"unchecked", unchecked}})["manifest"];
}

nlohmann::json LoopbackServer::records() {
    return control("/records", nullptr);
}

uint16_t LoopbackServer::port(const std::string& listener) const {
    if (!ports_.contains(listener)) {
        throw std::runtime_error("no loopback listener " + listener);
    }
    return ports_[listener].get<uint16_t>();
}

std::string LoopbackServer::url(const std::string& listener, const std::string& path) const {
    const std::string scheme = listener == "http" ? "http" : "https";
    return scheme + "://localhost:" + std::to_string(port(listener)) + path;
}

std::filesystem::path LoopbackServer::www() const {
    return www_;
}

std::string recorded_header(const nlohmann::json& record, const std::string& name) {
    const auto lowered = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (const auto& header : record["headers"]) {
        if (lowered(header[0].get<std::string>()) == lowered(name)) {
            return header[1].get<std::string>();
        }
    }
    return {};
}

}  // namespace test

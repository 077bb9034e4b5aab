// The panel's web server: one page (embedded in the binary), a small HTTP API
// under /api, and a WebSocket at /api/events that pushes every report and
// camera state to the open pages and carries their held moves.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace korvane::tool::panel {

class CRoom;

// How long a page's held move lasts without a renewal; the page renews it
// several times within this.
constexpr std::chrono::milliseconds kPageLease{700};
// An API move lasts this long unless the request says otherwise (hold_ms).
constexpr std::chrono::milliseconds kApiLease{1000};

struct ServerOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 8420;
    std::string token;  // empty: none asked for (loopback only)
    std::string cameraFile;  // where POST /api/cameras writes (empty: the room takes no camera)
};

bool IsLoopback(const std::string& address);

class CPanelServer {
public:
    // Binds the address; throws std::runtime_error when it cannot.
    explicit CPanelServer(const ServerOptions& options);
    ~CPanelServer();
    CPanelServer(const CPanelServer&) = delete;
    CPanelServer& operator=(const CPanelServer&) = delete;

    std::uint16_t Port() const;
    // Serves requests on a thread of its own until Stop.
    void Start(CRoom& room);
    // Returns once no handler runs; the room may go after this.
    void Stop();
    // Hands a message to every open push channel; from any thread, never waits.
    void Broadcast(const nlohmann::json& message);

    // As served after Start, without a socket (for the fuzz target): one
    // request's bytes to the answer's bytes (empty when the bytes are no whole
    // request, or ask for the push channel), one push message to the error it
    // is answered with (empty when none).
    std::string AnswerBytes(const std::string& bytes);
    std::string AnswerMessage(const std::string& text);

    struct Impl;

private:
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace korvane::tool::panel

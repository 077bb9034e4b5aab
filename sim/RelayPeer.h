// A simulated relay service: listens on 127.0.0.1:20715 (or another port),
// answers open requests, records every datagram that cameras send it, and
// sends target events to a camera's event port. Runs its own thread so that
// it can answer while a camera waits in Open.
#pragma once

#include "sim/Arrivals.h"
#include "sim/FrameDecoder.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace korvane::sim {

struct RelayDatagram {
    Bytes bytes;
    std::uint16_t fromPort = 0;
};

class CRelayPeer {
public:
    // Throws when the port is taken (another relay is running).
    explicit CRelayPeer(std::uint16_t port = 20715);
    ~CRelayPeer();
    CRelayPeer(const CRelayPeer&) = delete;
    CRelayPeer& operator=(const CRelayPeer&) = delete;

    // The answer to open requests: "OK" until told otherwise; nothing at all
    // makes the camera wait in vain.
    void SetAnswer(std::optional<Bytes> answer);
    void Refuse() { SetAnswer(Bytes{'F', 'A', 'I', 0}); }

    // The next datagram a camera sent, or nothing within the time.
    std::optional<RelayDatagram> NextDatagram(std::chrono::milliseconds timeout);
    // Skips datagrams until one of the kind arrives (1 open, 2 command, 3 close).
    std::optional<RelayDatagram> NextOfKind(std::uint32_t kind, std::chrono::milliseconds timeout);

    // An event text (or any bytes) to 127.0.0.1:eventPort.
    static void SendEvent(std::uint16_t eventPort, const std::string& text);
    static void SendRaw(std::uint16_t eventPort, const Bytes& datagram);

    // A readable line for a datagram, e.g. "command: device kind 4, device
    // port 80, event port 40001: pelco-d addr 1: tilt up speed 30".
    static std::string Describe(const Bytes& datagram);
    // The event port that an open request, command or close notice carries.
    static std::uint16_t EventPortOf(const Bytes& datagram);
    // The frame inside a command datagram.
    static Bytes FrameOf(const Bytes& datagram);

private:
    void Receive();

    boost::asio::io_context m_io;
    boost::asio::ip::udp::socket m_socket;
    boost::asio::ip::udp::endpoint m_sender;
    std::array<std::uint8_t, 4096> m_buffer{};
    CArrivals<RelayDatagram> m_received;
    std::mutex m_mutex;  // the answer
    std::optional<Bytes> m_answer = Bytes{'O', 'K'};
    std::thread m_thread;
};

}  // namespace korvane::sim

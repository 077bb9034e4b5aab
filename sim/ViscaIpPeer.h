// A simulated VISCA-over-IP camera on 127.0.0.1: checks each message's framing
// and sequence number, answers as cameras do (ACK then completion, the RESET
// reply, an error for what it cannot do), moves on drive commands, reports
// where it is to the position inquiries, and keeps one readable line for each
// message that arrived. Runs its own thread.
#pragma once

#include "frames/ViscaIpDatagram.h"
#include "sim/Arrivals.h"
#include "sim/FrameDecoder.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvane::sim {

struct ViscaIpPeerOptions {
    bool ignoreMoves = false;  // never answers a drive that moves (a camera that lost them)
    unsigned loseEvery = 0;    // the first copy of every Nth command or inquiry goes unanswered
    bool duplicate = false;    // every reply goes out twice, as a network may deliver it
};

class CViscaIpPeer {
public:
    // Port 0: any free port. Throws when the port is taken.
    explicit CViscaIpPeer(std::uint16_t port = kViscaIpPort, ViscaIpPeerOptions options = {});
    ~CViscaIpPeer();
    CViscaIpPeer(const CViscaIpPeer&) = delete;
    CViscaIpPeer& operator=(const CViscaIpPeer&) = delete;

    std::uint16_t Port() const { return m_nPort; }
    // "#3 seq 2 command: visca addr 1: pan-tilt stop -> ack, completion   (01 00 ...)"
    std::optional<std::string> NextLine(std::chrono::milliseconds timeout) { return m_lines.Next(timeout); }

private:
    struct Outcome {
        std::vector<Bytes> replies;  // VISCA reply packets, in order
        std::string text;
    };

    void Receive();
    std::string Handle(const Bytes& datagram);
    Outcome Execute(std::uint16_t type, const Bytes& payload);
    Outcome Command(const Bytes& p);
    Outcome Inquiry(const Bytes& p);
    void Reply(std::uint16_t type, std::uint32_t sequence, const Bytes& payload);

    const ViscaIpPeerOptions m_options;
    boost::asio::io_context m_io;
    boost::asio::ip::udp::socket m_socket;
    std::uint16_t m_nPort = 0;
    boost::asio::ip::udp::endpoint m_sender;
    std::array<std::uint8_t, 2048> m_buffer{};
    CArrivals<std::string> m_lines;
    std::thread m_thread;

    // The peer's thread alone touches these.
    unsigned m_nArrivals = 0;
    unsigned m_nMessages = 0;
    std::optional<std::uint32_t> m_lastSequence;  // set by RESET and by each accepted message
    Bytes m_lastDatagram;
    bool m_bLastAnswered = false;
    std::vector<Bytes> m_lastReplies;
    PanTiltPosition m_position;
    std::uint16_t m_nZoom = 0;
    std::map<std::uint8_t, std::pair<PanTiltPosition, std::uint16_t>> m_presets;
};

}  // namespace korvane::sim

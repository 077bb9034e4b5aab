// One VISCA-over-IP camera over UDP: the sequence number, one message
// outstanding at a time, the resend of a message that got no answer.
//
// Each call runs a private io_context on the calling thread for as long as it
// waits, bounded by the call limit (5 s): no thread and no timer object of its
// own. Calls may come from several threads; they take turns, except that a
// stop makes a motion still waiting for its answer give way at once (its
// resending ends and it reports "superseded by a stop"). When the camera
// says the sequence is out of order (another controller reset it, or a
// message was lost for good), the link sends RESET and the message again, once.
#pragma once

#include "frames/Frame.h"
#include "frames/ViscaIpDatagram.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace korvane {

// ok, or why not; a motion that gave way to a stop is ok, and says so.
struct ViscaIpResult {
    bool ok = false;
    std::string reason;
};

enum class ViscaIpKind { Motion, Stop, Ordered };

struct ViscaIpTiming {
    std::chrono::milliseconds resendAfter{200};
    int sends = 5;  // the first and the resends: about a second without an answer
    std::chrono::milliseconds callLimit{5000};
};

class CViscaIpLink {
public:
    explicit CViscaIpLink(ViscaIpTiming timing = {});
    ~CViscaIpLink();
    CViscaIpLink(const CViscaIpLink&) = delete;
    CViscaIpLink& operator=(const CViscaIpLink&) = delete;

    // Sends RESET and waits for its reply; nothing else goes out before it.
    ViscaIpResult Open(const std::string& host, std::uint16_t port = kViscaIpPort);
    void Close();
    bool IsOpen() const { return m_bOpen.load(); }

    // A VISCA command (8x 01 ... FF): waits for the ACK, then for the
    // completion until the call limit (a command the camera took but has not
    // finished by then is ok, and says so).
    ViscaIpResult Send(const Frame& payload, ViscaIpKind kind = ViscaIpKind::Ordered);
    // A stop is on its way: the motion waiting for its answer gives way now,
    // before the stop's sender waits for its own turn.
    void CancelMotion();
    // A VISCA inquiry (8x 09 ... FF); answer gets the bytes between 5z and FF.
    ViscaIpResult Inquire(const Frame& payload, Frame& answer);
    ViscaIpResult QueryPanTilt(PanTiltPosition& position);
    ViscaIpResult QueryZoom(std::uint16_t& zoom);

    // The last failure the link saw; empty after a success.
    std::string State() const;

private:
    using Clock = std::chrono::steady_clock;
    class CTurn;
    enum class Got { Datagram, Nothing, Failed, GaveWay };

    ViscaIpResult Call(std::uint16_t type, const Frame& payload, ViscaIpKind kind, Frame* answer);
    // stops: the count of stops when the call came; a motion gives way to any later one.
    ViscaIpResult Exchange(std::uint16_t type, const Frame& payload, ViscaIpKind kind, std::uint64_t stops,
                           Frame* answer, Clock::time_point deadline);
    template <typename GiveWay>
    Got Receive(Clock::time_point until, std::size_t& bytes, GiveWay giveWay);
    void WakeWaiter();
    ViscaIpResult Record(ViscaIpResult result);
    void CloseSocket();

    const ViscaIpTiming m_timing;
    // The one message outstanding: a turn, whose holder alone runs m_io. A
    // flag under a plain mutex, so that a waiter can give up at its deadline
    // (and the thread checkers can follow it, unlike a timed mutex).
    std::mutex m_turnMutex;
    std::condition_variable m_turnFree;
    bool m_bTurnTaken = false;
    boost::asio::io_context m_io;
    boost::asio::ip::udp::socket m_socket;
    std::string m_peer;            // "host:port", for reasons
    std::uint32_t m_nSequence = 0;
    bool m_bOutOfSequence = false;  // the last exchange ended in the camera's sequence error
    std::array<std::uint8_t, 64> m_buffer{};  // larger than any valid datagram, so longer ones show
    std::atomic<std::uint64_t> m_nStops{0};   // a motion that sees it change gives way
    std::atomic<bool> m_bClosing{false};
    std::atomic<bool> m_bOpen{false};
    mutable std::mutex m_stateMutex;
    std::string m_state;
};

}  // namespace korvane

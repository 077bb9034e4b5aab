#include "netcam/ViscaIpLink.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>

namespace korvane {

using boost::asio::ip::udp;

class CViscaIpLink::CTurn {
public:
    CTurn(CViscaIpLink& link, std::chrono::steady_clock::time_point deadline) : m_link(link)
    {
        std::unique_lock<std::mutex> lock(link.m_turnMutex);
        m_bHeld = link.m_turnFree.wait_until(lock, deadline, [&link] { return !link.m_bTurnTaken; });
        if (m_bHeld) link.m_bTurnTaken = true;
    }
    ~CTurn()
    {
        if (!m_bHeld) return;
        {
            std::lock_guard<std::mutex> lock(m_link.m_turnMutex);
            m_link.m_bTurnTaken = false;
        }
        m_link.m_turnFree.notify_all();
    }
    CTurn(const CTurn&) = delete;
    CTurn& operator=(const CTurn&) = delete;
    explicit operator bool() const { return m_bHeld; }

private:
    CViscaIpLink& m_link;
    bool m_bHeld = false;
};

namespace {

std::string Milliseconds(std::chrono::milliseconds span) { return std::to_string(span.count()) + " ms"; }

}  // namespace

CViscaIpLink::CViscaIpLink(ViscaIpTiming timing) : m_timing(timing), m_socket(m_io) {}

CViscaIpLink::~CViscaIpLink() { Close(); }

ViscaIpResult CViscaIpLink::Open(const std::string& host, std::uint16_t port)
{
    const auto deadline = Clock::now() + m_timing.callLimit;
    const CTurn turn(*this, deadline);
    if (!turn) return Record({false, "another call kept the link busy"});
    CloseSocket();
    m_peer = host + ":" + std::to_string(port);
    boost::system::error_code error;
    udp::endpoint camera(boost::asio::ip::make_address(host, error), port);
    if (error) {
        udp::resolver resolver(m_io);
        const auto found = resolver.resolve(udp::v4(), host, std::to_string(port), error);
        if (error || found.empty()) return Record({false, "cannot resolve " + host + ": " + error.message()});
        camera = found.begin()->endpoint();
    }
    // Connected: only the camera's datagrams reach this socket.
    m_socket.open(camera.protocol(), error);
    if (!error) m_socket.connect(camera, error);
    if (error) {
        CloseSocket();
        return Record({false, "cannot open a UDP socket to " + m_peer + ": " + error.message()});
    }
    m_nSequence = 0;
    ViscaIpResult reset = Exchange(viscaip::kControl, {0x01}, ViscaIpKind::Ordered, 0, nullptr, deadline);
    if (!reset.ok) {
        CloseSocket();
        return Record({false, "RESET not answered: " + reset.reason});
    }
    m_bOpen = true;
    return Record(std::move(reset));
}

void CViscaIpLink::Close()
{
    m_bClosing = true;
    WakeWaiter();
    // The holder gives way to a close within its wait; it ends in any case
    // within the call limit.
    for (;;) {
        const CTurn turn(*this, Clock::now() + m_timing.callLimit);
        if (!turn) continue;
        m_bClosing = false;
        CloseSocket();
        return;
    }
}

void CViscaIpLink::CloseSocket()
{
    boost::system::error_code ignored;
    m_socket.close(ignored);
    m_bOpen = false;
}

void CViscaIpLink::CancelMotion()
{
    ++m_nStops;
    WakeWaiter();
}

ViscaIpResult CViscaIpLink::Send(const Frame& payload, ViscaIpKind kind)
{
    if (kind == ViscaIpKind::Stop) CancelMotion();
    return Call(viscaip::kCommand, payload, kind, nullptr);
}

ViscaIpResult CViscaIpLink::Inquire(const Frame& payload, Frame& answer)
{
    return Call(viscaip::kInquiry, payload, ViscaIpKind::Ordered, &answer);
}

ViscaIpResult CViscaIpLink::QueryPanTilt(PanTiltPosition& position)
{
    Frame data;
    ViscaIpResult result = Inquire(ViscaPanTiltPositionInquiry(1), data);
    if (!result.ok) return result;
    const auto parsed = ParsePanTiltPosition(data);
    if (!parsed) return Record({false, "the camera's answer is no pan-tilt position"});
    position = *parsed;
    return result;
}

ViscaIpResult CViscaIpLink::QueryZoom(std::uint16_t& zoom)
{
    Frame data;
    ViscaIpResult result = Inquire(ViscaZoomPositionInquiry(1), data);
    if (!result.ok) return result;
    const auto parsed = ParseZoomPosition(data);
    if (!parsed) return Record({false, "the camera's answer is no zoom position"});
    zoom = *parsed;
    return result;
}

std::string CViscaIpLink::State() const
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_state;
}

ViscaIpResult CViscaIpLink::Record(ViscaIpResult result)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_state = result.ok ? std::string() : result.reason;
    return result;
}

void CViscaIpLink::WakeWaiter()
{
    // Ends the waiter's run_one_for early so that it looks at the flags.
    boost::asio::post(m_io, [] {});
}

ViscaIpResult CViscaIpLink::Call(std::uint16_t type, const Frame& payload, ViscaIpKind kind, Frame* answer)
{
    const auto deadline = Clock::now() + m_timing.callLimit;
    const std::uint64_t stops = m_nStops.load();
    const CTurn turn(*this, deadline);
    if (!turn)
        return Record({false, "no answer within " + Milliseconds(m_timing.callLimit) + " (link busy)"});
    if (!m_bOpen) return Record({false, "not open"});
    ViscaIpResult result = Exchange(type, payload, kind, stops, answer, deadline);
    if (m_bOutOfSequence) {
        m_nSequence = 0;
        const ViscaIpResult reset = Exchange(viscaip::kControl, {0x01}, ViscaIpKind::Ordered, 0, nullptr, deadline);
        if (!reset.ok) return Record({false, "RESET not answered: " + reset.reason});
        result = Exchange(type, payload, kind, stops, answer, deadline);
    }
    return Record(std::move(result));
}

template <typename GiveWay>
CViscaIpLink::Got CViscaIpLink::Receive(Clock::time_point until, std::size_t& bytes, GiveWay giveWay)
{
    bool done = false;
    boost::system::error_code error;
    m_socket.async_receive(boost::asio::buffer(m_buffer), [&](const boost::system::error_code& e, std::size_t n) {
        done = true;
        error = e;
        bytes = n;
    });
    m_io.restart();
    bool gaveWay = false;
    while (!done) {
        const auto now = Clock::now();
        if ((gaveWay = giveWay()) || now >= until) break;
        m_io.run_one_for(until - now);
    }
    if (!done) {
        // The buffer and the handler's references live here: wait for the cancelled receive.
        boost::system::error_code ignored;
        m_socket.cancel(ignored);
        while (!done && m_io.run_one_for(m_timing.callLimit)) {
        }
    }
    if (gaveWay) return Got::GaveWay;
    if (error == boost::asio::error::operation_aborted) return Got::Nothing;
    if (error) return Got::Failed;
    return done ? Got::Datagram : Got::Nothing;
}

ViscaIpResult CViscaIpLink::Exchange(std::uint16_t type, const Frame& payload, ViscaIpKind kind, std::uint64_t stops,
                                     Frame* answer, Clock::time_point deadline)
{
    m_bOutOfSequence = false;
    const std::uint32_t sequence = m_nSequence;
    const Frame datagram = ViscaIpDatagram(type, sequence, payload);
    if (datagram.empty()) return {false, "a VISCA message holds 1 to 16 bytes"};
    ++m_nSequence;
    const auto giveWay = [&] { return m_bClosing.load() || (kind == ViscaIpKind::Motion && m_nStops.load() != stops); };

    bool acked = false;
    int sent = 0;
    const auto start = Clock::now();
    for (;;) {
        if (!acked) {
            if (sent == m_timing.sends)
                return {false, "no answer from " + m_peer + " to " + std::to_string(sent) + " sends in " +
                                   Milliseconds(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start))};
            boost::system::error_code error;
            m_socket.send(boost::asio::buffer(datagram), 0, error);
            if (error) return {false, "cannot send to " + m_peer + ": " + error.message()};
            ++sent;
        }
        const auto until = acked ? deadline : std::min(deadline, Clock::now() + m_timing.resendAfter);
        for (;;) {
            std::size_t bytes = 0;
            const Got got = Receive(until, bytes, giveWay);
            if (got == Got::GaveWay)
                return m_bClosing ? ViscaIpResult{false, "closed"} : ViscaIpResult{true, "superseded by a stop"};
            if (got == Got::Failed) return {false, "nothing listens at " + m_peer};
            if (got == Got::Nothing) break;
            const auto reply = ParseViscaIpReply(m_buffer.data(), bytes);
            if (!reply || reply->sequence != sequence) continue;  // stale, or not a reply
            switch (reply->kind) {
            case ViscaReplyKind::ControlAck:
                if (type == viscaip::kControl) return {true, ""};
                break;
            case ViscaReplyKind::ControlError:
                m_bOutOfSequence = reply->error == kControlErrorSequence;
                return {false, std::string("the camera reports: ") + ControlErrorMeaning(reply->error)};
            case ViscaReplyKind::Error:
                return {false, std::string("the camera refused it: ") + ViscaErrorMeaning(reply->error)};
            case ViscaReplyKind::Ack:
                if (type == viscaip::kCommand) acked = true;
                break;
            case ViscaReplyKind::Completion:
                if (type == viscaip::kControl) break;
                if (answer) *answer = reply->data;
                return {true, ""};
            }
        }
        if (Clock::now() >= deadline) {
            if (acked) return {true, "taken, not completed within " + Milliseconds(m_timing.callLimit)};
            return {false, "no answer from " + m_peer + " within " + Milliseconds(m_timing.callLimit)};
        }
    }
}

}  // namespace korvane

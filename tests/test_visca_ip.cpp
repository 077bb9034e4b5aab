// VISCA over IP: the message bytes, and the link over real UDP on 127.0.0.1
// against `korvane sim visca-ip` run as a process of its own (in this process
// where the tool's child-process helper does not exist: Windows).
#include "TestBytes.h"
#include "frames/ViscaIpDatagram.h"
#include "netcam/ViscaIpLink.h"

#include <korvane/Korvane.h>

#ifdef KORVANE_TOOL_PATH
#include "ToolProcess.h"
#else
#include "sim/ViscaIpPeer.h"
#endif

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <functional>
#include <future>
#include <sstream>
#include <tuple>

using korvane::test::B;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace korvane;
using namespace std::chrono_literals;

namespace {

Bytes Cat(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The simulated camera; Line(n) is the nth line it printed (from 1) and
// Datagram(n) the bytes that line shows.
class CSimCamera {
public:
    explicit CSimCamera(std::vector<std::string> options = {})
#ifdef KORVANE_TOOL_PATH
        : m_tool(Args(options))
    {
        const std::string line = Line(0, "camera on 127.0.0.1:");
        m_nPort = static_cast<std::uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
    }
    static std::vector<std::string> Args(const std::vector<std::string>& options)
    {
        std::vector<std::string> args{"sim", "visca-ip", "--port", "0"};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }
    std::string Line(int n, std::string prefix = "")
    {
        if (prefix.empty()) prefix = "#" + std::to_string(n) + " ";
        if (!m_tool.WaitForOutput(prefix, 5s)) return "";
        for (int reads = 0; reads < 100; ++reads) {  // the rest of the line, if it came apart
            const std::string& out = m_tool.Output();
            const auto at = out.find(prefix), end = out.find('\n', at);
            if (end != std::string::npos) return out.substr(at, end - at);
            m_tool.WaitForOutput("\n\n", 50ms);
        }
        return "";
    }
#else
        : m_peer(0, Options(options))
    {
        m_nPort = m_peer.Port();
    }
    static sim::ViscaIpPeerOptions Options(const std::vector<std::string>& args)
    {
        sim::ViscaIpPeerOptions options;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--ignore-moves") options.ignoreMoves = true;
            if (args[i] == "--duplicate") options.duplicate = true;
            if (args[i] == "--lose-every") options.loseEvery = static_cast<unsigned>(std::stoul(args[++i]));
        }
        return options;
    }
    std::string Line(int n)
    {
        while (static_cast<int>(m_lines.size()) < n) {
            auto line = m_peer.NextLine(5s);
            if (!line) return "";
            m_lines.push_back(*line);
        }
        return m_lines[static_cast<std::size_t>(n - 1)];
    }
#endif
    Bytes Datagram(int n)
    {
        const std::string line = Line(n);
        const auto open = line.rfind('(');
        if (open == std::string::npos) return {};
        std::istringstream hex(line.substr(open + 1));
        Bytes bytes;
        unsigned value = 0;
        while (hex >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
        return bytes;
    }
    std::uint16_t Port() const { return m_nPort; }

private:
#ifdef KORVANE_TOOL_PATH
    test::CToolProcess m_tool;
#else
    sim::CViscaIpPeer m_peer;
    std::vector<std::string> m_lines;
#endif
    std::uint16_t m_nPort = 0;
};

const Bytes kReset = B({0x02, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0x01});
const Bytes kLeft = B({0x81, 0x01, 0x06, 0x01, 0x0D, 0x01, 0x01, 0x03, 0xFF});
const Bytes kUp = B({0x81, 0x01, 0x06, 0x01, 0x01, 0x0B, 0x03, 0x01, 0xFF});
const Bytes kStop = B({0x81, 0x01, 0x06, 0x01, 0x01, 0x01, 0x03, 0x03, 0xFF});
const Bytes kDriveStop = B({0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF});  // as the encoder stops

Bytes Command(std::uint32_t sequence, const Bytes& payload)
{
    return Cat(B({1, 0, 0, static_cast<int>(payload.size()), 0, 0, static_cast<int>(sequence >> 8),
                  static_cast<int>(sequence & 0xFF)}),
               payload);
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

TEST(ViscaIpDatagram, HeaderIsTypeLengthSequenceBigEndian)
{
    struct Case { std::uint16_t type; std::uint32_t sequence; Bytes payload; Bytes expected; };
    const Case cases[] = {
        {viscaip::kControl, 0, B({0x01}), kReset},
        {viscaip::kCommand, 0x01020304, kLeft, Cat(B({0x01, 0x00, 0x00, 0x09, 1, 2, 3, 4}), kLeft)},
        {viscaip::kInquiry, 0xFFFFFFFF, B({0x81, 0x09, 0x06, 0x12, 0xFF}),
         B({0x01, 0x10, 0x00, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x09, 0x06, 0x12, 0xFF})},
        {viscaip::kCommand, 1, Bytes(16, 0x01), Cat(B({0x01, 0x00, 0x00, 0x10, 0, 0, 0, 1}), Bytes(16, 0x01))},
        {viscaip::kCommand, 1, Bytes(17, 0x01), {}},
        {viscaip::kCommand, 1, {}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ViscaIpDatagram(c.type, c.sequence, c.payload), c.expected);
    EXPECT_EQ(ViscaIpReset(0), kReset);
}

TEST(ViscaIpDatagram, RepliesAreReadWithinHardLimits)
{
    struct Case { Bytes bytes; std::optional<ViscaReplyKind> kind; std::uint32_t sequence; std::uint8_t error; Bytes data; };
    const auto reply = [](std::uint32_t seq, Bytes p) {
        return Cat(B({0x01, 0x11, 0x00, static_cast<int>(p.size()), 0, 0, static_cast<int>(seq >> 8), static_cast<int>(seq & 0xFF)}), p);
    };
    const Case cases[] = {
        {reply(7, B({0x90, 0x41, 0xFF})), ViscaReplyKind::Ack, 7, 0, {}},
        {reply(0x1234, B({0x90, 0x52, 0xFF})), ViscaReplyKind::Completion, 0x1234, 0, {}},
        {reply(3, B({0x90, 0x50, 0x0F, 0x0F, 0x00, 0x0D, 0xFF})), ViscaReplyKind::Completion, 3, 0, B({0x0F, 0x0F, 0x00, 0x0D})},
        {reply(3, B({0x90, 0x61, 0x02, 0xFF})), ViscaReplyKind::Error, 3, 0x02, {}},
        {reply(3, B({0x90, 0x62, 0x41, 0xFF})), ViscaReplyKind::Error, 3, 0x41, {}},
        {B({0x02, 0x01, 0x00, 0x01, 0, 0, 0, 9, 0x01}), ViscaReplyKind::ControlAck, 9, 0, {}},
        {B({0x02, 0x00, 0x00, 0x02, 0, 0, 0, 9, 0x0F, 0x01}), ViscaReplyKind::ControlError, 9, 0x01, {}},
        // Not replies: a length field that is not what arrived, a payload over
        // 16 bytes, no payload, a command, FF inside, a sender byte 8x, an ACK too long.
        {Cat(B({0x01, 0x11, 0x00, 0x04, 0, 0, 0, 1}), B({0x90, 0x41, 0xFF})), {}, 0, 0, {}},
        {Cat(B({0x01, 0x11, 0x00, 0x02, 0, 0, 0, 1}), B({0x90, 0x41, 0xFF})), {}, 0, 0, {}},
        {reply(1, Cat(B({0x90, 0x50}), Cat(Bytes(15, 0), B({0xFF})))), {}, 0, 0, {}},
        {B({0x01, 0x11, 0x00, 0x00, 0, 0, 0, 1}), {}, 0, 0, {}},
        {Cat(B({0x01, 0x00, 0x00, 0x03, 0, 0, 0, 1}), B({0x90, 0x41, 0xFF})), {}, 0, 0, {}},
        {reply(1, B({0x90, 0x50, 0xFF, 0xFF})), {}, 0, 0, {}},
        {reply(1, B({0x81, 0x41, 0xFF})), {}, 0, 0, {}},
        {reply(1, B({0x90, 0x41, 0x00, 0xFF})), {}, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        // An exact-size copy, so that a read past the end shows under ASan.
        const auto exact = std::make_unique<std::uint8_t[]>(c.bytes.size());
        std::copy(c.bytes.begin(), c.bytes.end(), exact.get());
        const auto parsed = ParseViscaIpReply(exact.get(), c.bytes.size());
        ASSERT_EQ(parsed.has_value(), c.kind.has_value());
        if (!parsed) continue;
        EXPECT_EQ(std::tie(parsed->kind, parsed->sequence, parsed->error, parsed->data),
                  std::tie(*c.kind, c.sequence, c.error, c.data));
    }
}

TEST(ViscaIpDatagram, PositionsErrorsAndSpeedsAsCamerasUseThem)
{
    EXPECT_EQ(ParsePanTiltPosition(B({0x0F, 0x0F, 0x0F, 0x03, 0x00, 0x01, 0x00, 0x0B}))->pan, -13);
    EXPECT_EQ(ParsePanTiltPosition(B({0x0F, 0x0F, 0x0F, 0x03, 0x00, 0x01, 0x00, 0x0B}))->tilt, 0x10B);
    EXPECT_FALSE(ParsePanTiltPosition(B({0x10, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_EQ(ParseZoomPosition(B({0x04, 0x00, 0x00, 0x00})), 0x4000);
    EXPECT_FALSE(ParseZoomPosition(B({0x04, 0x00, 0x00})));
    EXPECT_EQ(ParsePanTiltPosition(PanTiltPositionData({-0x8000, 0x7FFF}))->pan, -0x8000);
    const std::pair<std::uint8_t, const char*> meanings[] = {{0x02, "syntax error"}, {0x03, "command buffer full"},
        {0x04, "command cancelled"}, {0x05, "no socket"}, {0x41, "command not executable"}};
    for (const auto& [code, text] : meanings) EXPECT_STREQ(ViscaErrorMeaning(code), text);
    // Library speed -> pan, tilt: 0..63 onto 1..0x18 and 1..0x14, the rest capped as frames cap it.
    struct Speed { std::int32_t speed; std::uint8_t pan, tilt; };
    const Speed speeds[] = {{0, 1, 1}, {1, 1, 1}, {2, 2, 2}, {3, 2, 2}, {31, 12, 10}, {32, 13, 11},
                            {62, 24, 20}, {63, 24, 20}, {64, 24, 20}, {-1, 24, 20}, {1000, 24, 20}};
    for (const Speed& s : speeds) {
        EXPECT_EQ(ViscaIpPanSpeed(s.speed), s.pan) << s.speed;
        EXPECT_EQ(ViscaIpTiltSpeed(s.speed), s.tilt) << s.speed;
    }
}

TEST(ViscaIpLink, DrivesMoveTheCameraAndThePositionInquiriesSayWhere)
{
    struct Step { Bytes command; std::int16_t pan, tilt; std::uint16_t zoom; };
    const Step steps[] = {
        {kLeft, -13, 0, 0},
        {kUp, -13, 11, 0},
        {B({0x81, 0x01, 0x06, 0x01, 0x18, 0x14, 0x02, 0x02, 0xFF}), 11, -9, 0},
        {B({0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}), 11, -9, 0x100},
        {B({0x81, 0x01, 0x04, 0x3F, 0x01, 0x05, 0xFF}), 11, -9, 0x100},
        {B({0x81, 0x01, 0x06, 0x04, 0xFF}), 0, 0, 0x100},
        {B({0x81, 0x01, 0x04, 0x3F, 0x02, 0x05, 0xFF}), 11, -9, 0x100},
    };
    CSimCamera camera;
    CViscaIpLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", camera.Port()).ok);
    for (const Step& step : steps) {
        SCOPED_TRACE(::testing::PrintToString(step.command));
        ASSERT_TRUE(link.Send(step.command).ok) << link.State();
        PanTiltPosition position;
        std::uint16_t zoom = 0xFFFF;
        ASSERT_TRUE(link.QueryPanTilt(position).ok) << link.State();
        ASSERT_TRUE(link.QueryZoom(zoom).ok) << link.State();
        EXPECT_EQ(std::tie(position.pan, position.tilt, zoom), std::tie(step.pan, step.tilt, step.zoom));
    }
}

TEST(ViscaIpLink, AnErrorReplyFailsTheCommandWithItsMeaning)
{
    struct Case { Bytes payload; bool inquiry; const char* meaning; };
    const Case cases[] = {
        {B({0x81, 0x01, 0x7E, 0x01, 0xFF}), false, "command not executable"},           // unknown command
        {B({0x81, 0x01, 0x04, 0x3F, 0x02, 0x09, 0xFF}), false, "command not executable"},  // memory 9 not set, after the ACK
        {B({0x81, 0x01, 0x06, 0x01, 0x3F, 0x01, 0x01, 0x03, 0xFF}), false, "syntax error"},  // pan speed sent raw
        {B({0x81, 0x01, 0x06, 0x01, 0x0D, 0x01, 0x01, 0x03, 0x00}), false, "syntax error"},  // no terminator
        {B({0x81, 0x09, 0x7E, 0x7E, 0xFF}), true, "command not executable"},             // unknown inquiry
    };
    // Each reply twice: the copies of the last answer wait in the socket, and
    // must not be taken for the next message's.
    CSimCamera camera({"--duplicate"});
    CViscaIpLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", camera.Port()).ok);
    for (const Case& c : cases) {
        Frame answer;
        const auto start = Clock::now();
        const ViscaIpResult result = c.inquiry ? link.Inquire(c.payload, answer) : link.Send(c.payload);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.reason.find(c.meaning), std::string::npos) << result.reason;
        EXPECT_EQ(link.State(), result.reason);
        EXPECT_LT(Seconds(start), 0.5) << "an error reply is not waited out";
        EXPECT_TRUE(link.Send(kStop).ok) << "the link goes on after an error";
        EXPECT_EQ(link.State(), "");
    }
}

// A camera that never answers: Open and a command each give up after about
// a second of resending the same bytes, well within the 5 s bound.
TEST(ViscaIpLink, ASilentCameraFailsWithinTheBound)
{
    boost::asio::io_context io;
    boost::asio::ip::udp::socket silent(io, {boost::asio::ip::address_v4::loopback(), 0});
    CViscaIpLink link;
    auto start = Clock::now();
    ViscaIpResult result = link.Open("127.0.0.1", silent.local_endpoint().port());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.reason.find("RESET not answered: no answer"), std::string::npos) << result.reason;
    EXPECT_GT(Seconds(start), 0.7);
    EXPECT_LT(Seconds(start), 2.5);
    int resets = 0;
    std::array<std::uint8_t, 64> buffer{};
    while (silent.available()) {
        const std::size_t n = silent.receive(boost::asio::buffer(buffer));
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(n)), kReset);
        ++resets;
    }
    EXPECT_EQ(resets, 5);
    EXPECT_FALSE(link.Send(kStop).ok) << "nothing goes out before the RESET reply";
    EXPECT_EQ(silent.available(), 0u);

    CSimCamera camera({"--ignore-moves"});
    ASSERT_TRUE(link.Open("127.0.0.1", camera.Port()).ok);
    start = Clock::now();
    result = link.Send(kLeft, ViscaIpKind::Motion);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.reason.find("no answer"), std::string::npos) << result.reason;
    EXPECT_GT(Seconds(start), 0.7);
    EXPECT_LT(Seconds(start), 2.5);
    for (int n = 2; n <= 6; ++n) EXPECT_EQ(camera.Datagram(n), Command(1, kLeft)) << n;
    EXPECT_TRUE(link.Send(kStop).ok);
    EXPECT_EQ(camera.Datagram(7), Command(2, kStop));
}

TEST(ViscaIpLink, ALostMessageIsSentAgainWithItsSequence)
{
    CSimCamera camera({"--lose-every", "2"});
    CViscaIpLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", camera.Port()).ok);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(link.Send(i % 2 ? kStop : kLeft).ok) << link.State();
    // RESET, then seq 1, 2 (lost), 2 again, 3, 4 (lost), 4 again.
    const int lineOf[] = {2, 3, 5, 6};
    for (int i = 0; i < 4; ++i) {
        const Bytes sent = Command(i + 1, i % 2 ? kStop : kLeft);
        EXPECT_EQ(camera.Datagram(lineOf[i]), sent);
        if (i % 2) EXPECT_EQ(camera.Datagram(lineOf[i] + 1), sent);
    }
    EXPECT_NE(camera.Line(4).find("(again) -> ack, completion"), std::string::npos) << camera.Line(4);
}

// Two controllers on one camera: each RESET moves the camera's count under the
// other, which then starts again from RESET instead of failing.
TEST(ViscaIpLink, ASequenceErrorLeadsToResetAndTheMessageAgain)
{
    CSimCamera camera;
    CViscaIpLink first, second;
    ASSERT_TRUE(first.Open("127.0.0.1", camera.Port()).ok);
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(first.Send(kStop).ok) << first.State();
    ASSERT_TRUE(second.Open("127.0.0.1", camera.Port()).ok);
    EXPECT_TRUE(first.Send(kLeft).ok) << first.State();
    // RESET, 1, 2, RESET (second), 3 out of order, RESET, 1 again.
    EXPECT_NE(camera.Line(5).find("-> sequence error"), std::string::npos) << camera.Line(5);
    EXPECT_EQ(camera.Datagram(6), kReset);
    EXPECT_EQ(camera.Datagram(7), Command(1, kLeft));
    EXPECT_TRUE(second.Send(kStop).ok) << second.State();
}

// The camera as a host drives it: network mode, device type VISCA over IP.
struct CHostCamera {
    explicit CHostCamera(std::uint16_t port) : camera(MODE_NETWORK)
    {
        camera.SetDeviceType(DEVICE_VISCA_IP);
        camera.SetSocketParam(PROTOCOL_VISCA, "127.0.0.1", port, 0, "", "", "");
    }
    std::string LastError() const
    {
        char text[512] = {};
        camera.LastError(text, sizeof text);
        return text;
    }
    CKorvane camera;
};

TEST(ViscaIpLink, AStopEndsTheResendingOfAMotionAndOvertakesADrive)
{
    CSimCamera camera({"--ignore-moves"});
    CViscaIpLink link;
    ASSERT_TRUE(link.Open("127.0.0.1", camera.Port()).ok);
    auto motion = std::async(std::launch::async, [&] { return link.Send(kLeft, ViscaIpKind::Motion); });
    ASSERT_EQ(camera.Datagram(2), Command(1, kLeft));
    const ViscaIpResult stop = link.Send(kStop, ViscaIpKind::Stop);
    EXPECT_TRUE(stop.ok) << stop.reason;
    ASSERT_EQ(motion.wait_for(1s), std::future_status::ready);
    const ViscaIpResult moved = motion.get();
    EXPECT_TRUE(moved.ok);
    EXPECT_EQ(moved.reason, "superseded by a stop");
    Frame answer;
    EXPECT_TRUE(link.Inquire(ViscaPanTiltPositionInquiry(1), answer).ok);
    // The move went out fewer than its five times, and never after the stop.
    int stopAt = 0;
    for (int n = 3; n < 8 && !stopAt; ++n)
        if (camera.Datagram(n) == Command(2, kStop)) stopAt = n;
    ASSERT_GT(stopAt, 0) << "no stop within the move's five sends";
    EXPECT_EQ(camera.Datagram(stopAt + 1), Cat(B({1, 0x10, 0, 5, 0, 0, 0, 3}), ViscaPanTiltPositionInquiry(1)));

    // Through the host interface, on a camera of its own: a stop from another
    // thread does not wait behind the drive; the drive gives way.
    CSimCamera sim({"--ignore-moves"});
    CHostCamera host(sim.Port());
    ASSERT_EQ(host.camera.Open(), 1) << host.LastError();
    auto drive = std::async(std::launch::async, [&] { return host.camera.MoveLeft(); });
    ASSERT_EQ(sim.Datagram(2), Command(1, kLeft));
    const auto start = Clock::now();
    EXPECT_EQ(host.camera.CameraStop(), 1) << host.LastError();
    EXPECT_LT(Seconds(start), 0.5) << "the stop waited for the drive's resends";
    ASSERT_EQ(drive.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(drive.get(), 1);
}

TEST(ViscaIpCamera, OpenResetsThenEachCallSendsItsFramesInSequence)
{
    using Call = int (CKorvane::*)();
    const Bytes zoomTele = B({0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}), zoomStop = B({0x81, 0x01, 0x04, 0x07, 0x00, 0xFF});
    // Each call and the payloads it puts on the wire: the stop stops what
    // moved since the last one (pan-tilt and zoom when nothing did).
    const std::pair<Call, std::vector<Bytes>> steps[] = {
        {&CKorvane::MoveLeft, {kLeft}},
        {&CKorvane::CameraStop, {kDriveStop}},
        {&CKorvane::MoveUp, {kUp}},
        {&CKorvane::ZoomPlus, {zoomTele}},
        {&CKorvane::CameraStop, {zoomStop, kDriveStop}},
        {&CKorvane::CameraStop, {kDriveStop, zoomStop}},
        {&CKorvane::FocusPlus, {B({0x81, 0x01, 0x04, 0x38, 0x03, 0xFF}), B({0x81, 0x01, 0x04, 0x08, 0x02, 0xFF})}},
    };
    CSimCamera sim;
    CHostCamera host(sim.Port());
    EXPECT_EQ(host.camera.MoveLeft(), 0) << "nothing goes out before Open";
    ASSERT_EQ(host.camera.Open(), 1) << host.LastError();
    EXPECT_EQ(sim.Datagram(1), kReset);
    std::uint32_t sequence = 1;
    for (const auto& [call, payloads] : steps) {
        EXPECT_EQ((host.camera.*call)(), 1) << host.LastError();
        for (const Bytes& payload : payloads) {
            EXPECT_EQ(sim.Datagram(static_cast<int>(sequence) + 1), Command(sequence, payload)) << sequence;
            ++sequence;
        }
    }
    // Speeds on the camera's range: 63 is pan 0x18 and tilt 0x14, not 0x3F.
    host.camera.SetHorizonSpeed(63);
    host.camera.SetVertcalSpeed(63);
    EXPECT_EQ(host.camera.MoveTopRight(), 1) << host.LastError();
    EXPECT_EQ(sim.Datagram(static_cast<int>(sequence) + 1),
              Command(sequence, B({0x81, 0x01, 0x06, 0x01, 0x18, 0x14, 0x02, 0x01, 0xFF})));
}

TEST(ViscaIpCamera, FailuresCarryTheirReasonWithinTheBound)
{
    boost::asio::io_context io;
    boost::asio::ip::udp::socket silent(io, {boost::asio::ip::address_v4::loopback(), 0});
    CSimCamera ignoring({"--ignore-moves"});
    CSimCamera sim;
    struct Case { std::uint16_t port; const char* what; std::function<int(CKorvane&)> call; const char* reason; };
    const Case cases[] = {
        {silent.local_endpoint().port(), "open", [](CKorvane& c) { return c.Open(); }, "RESET not answered: no answer"},
        {sim.Port(), "recall of a memory never set", [](CKorvane& c) { return c.PreSet(9, 0); }, "command not executable"},
        {ignoring.Port(), "drive", [](CKorvane& c) { return c.MoveRight(); }, "no answer"},
        {sim.Port(), "track", [](CKorvane& c) { return c.OpenTrack(); }, "has none"},
        {sim.Port(), "set home", [](CKorvane& c) { return c.SetHome(); }, "home position is fixed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CHostCamera host(c.port);
        if (std::string(c.what) != "open") ASSERT_EQ(host.camera.Open(), 1) << host.LastError();
        const auto start = Clock::now();
        EXPECT_EQ(c.call(host.camera), 0);
        EXPECT_LT(Seconds(start), 5.0);
        EXPECT_NE(host.LastError().find(c.reason), std::string::npos) << host.LastError();
        EXPECT_EQ(host.camera.CameraStop(), std::string(c.what) == "open" ? 0 : 1) << host.LastError();
    }
}

// A camera's line from its answer on: "pan -13 tilt 0   (...)".
std::string Answer(const std::string& line) { return line.substr(std::min(line.rfind(" -> "), line.size())); }

TEST(ViscaIpCamera, PositionIsTheCamerasAnswerNormalised)
{
    CSimCamera sim;
    CHostCamera host(sim.Port());
    ASSERT_EQ(host.camera.Open(), 1) << host.LastError();
    const std::function<int(CKorvane&)> moves[] = {[](CKorvane& c) { return c.MoveLeft(); },
                                                   [](CKorvane& c) { return c.MoveButtomRight() + c.MoveDown(); },
                                                   [](CKorvane& c) { return c.ZoomPlus() + c.ZoomPlus(); },
                                                   [](CKorvane& c) { return c.GotoHome(); }};
    int line = 1;
    for (const auto& move : moves) {
        line += move(host.camera);
        float pan = 9, tilt = 9, zoom = 9;
        int moving = 9;
        ASSERT_EQ(host.camera.GetPosition(pan, tilt, zoom, moving), 1) << host.LastError();
        line += 2;
        // What the camera said it answered: "... pan P tilt T ..." then "... zoom Z ...".
        const std::string where = Answer(sim.Line(line - 1)), zoomLine = Answer(sim.Line(line));
        const int p = std::stoi(where.substr(where.find("pan ") + 4)), t = std::stoi(where.substr(where.find("tilt ") + 5));
        const int z = std::stoi(zoomLine.substr(zoomLine.find("zoom ") + 5));
        EXPECT_FLOAT_EQ(pan, static_cast<float>(p / 32768.0)) << where;
        EXPECT_FLOAT_EQ(tilt, static_cast<float>(t / 32768.0)) << where;
        EXPECT_FLOAT_EQ(zoom, static_cast<float>(z / 16384.0)) << zoomLine;
        EXPECT_EQ(moving, 0);
    }
    EXPECT_NE(sim.Line(3).find("-> pan -13 tilt 0"), std::string::npos) << "the position moved: " << sim.Line(3);
}

}  // namespace

// Relayed network cameras over real UDP on 127.0.0.1, with the simulated relay
// service as the peer. The relay's port 20715 is fixed: these tests take it
// one at a time.
#include "ReportCollector.h"
#include "TestBytes.h"
#include "platform/Wine.h"
#include "sim/RelayPeer.h"

#include <korvane/Korvane.h>

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <thread>

using korvane::sim::Bytes;
using korvane::sim::CRelayPeer;
using korvane::test::B;
using korvane::test::MessageBoxes;
using korvane::test::ReportCollector;
using namespace std::chrono_literals;

namespace {

// Little-endian 32-bit fields, one after another.
Bytes Le32(std::initializer_list<std::uint32_t> values)
{
    Bytes out;
    for (const std::uint32_t value : values)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return out;
}

Bytes operator+(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The event port travels big-endian in a four-byte field.
Bytes EventPortField(std::uint16_t port) { return B({port >> 8, port & 0xFF, 0, 0}); }

Bytes CommandDatagram(std::uint32_t kind, std::uint16_t eventPort, const Bytes& frame)
{
    Bytes out = Le32({2, kind, 80}) + EventPortField(eventPort) + Le32({static_cast<std::uint32_t>(frame.size())}) + frame;
    out.resize(40, 0);
    return out;
}

// A relayed camera for a device at 10.0.0.9:4001, not yet opened.
std::unique_ptr<CKorvane> RelayCamera(int type, int protocol = PROTOCOL_PELCO_D, unsigned address = 1)
{
    auto camera = std::make_unique<CKorvane>(MODE_NETWORK);
    camera->SetDeviceType(static_cast<DEVICETYPE>(type));
    camera->SetDeviceAddress(address);
    camera->SetSocketParam(static_cast<PTZPROTOCOL>(protocol), "10.0.0.9", 80, 2400, "", "", "");
    return camera;
}

struct Opened { std::unique_ptr<CKorvane> camera; std::uint16_t eventPort = 0; };

// A relayed camera, set up and opened against the peer.
Opened OpenRelayCamera(CRelayPeer& relay, int type, int protocol, unsigned address = 1,
                       ReportCollector* reports = nullptr)
{
    Opened opened{RelayCamera(type, protocol, address)};
    if (reports) reports->Attach(*opened.camera);
    EXPECT_EQ(opened.camera->Open(), 1);
    const auto request = relay.NextOfKind(1, 3s);
    EXPECT_TRUE(request);
    if (request) opened.eventPort = CRelayPeer::EventPortOf(request->bytes);
    return opened;
}

Bytes NextCommand(CRelayPeer& relay)
{
    const auto datagram = relay.NextOfKind(2, 3s);
    return datagram ? datagram->bytes : Bytes{};
}

}  // namespace

// Each text has a fixed field: 254 bytes and a zero for the address, the
// channel and the user, the rest of the 1024 bytes (239) for the password.
// Device types other than 1, 2 and 4 go as they are in the open request,
// their commands carry device kind 0, and only type 4 gets events.
TEST(Relay, OpenCommandAndCloseCarryTheirFieldsAndOnlyType4GetsEvents)
{
    const std::string x300(300, 'x'), x254(254, 'x'), p238(238, 'p'), q250(250, 'q');
    struct Case {
        int type;
        std::string address, user, password, channel;
        std::string sentAddress, sentUser, sentPassword, sentChannel;
    };
    const Case cases[] = {
        {4, "192.168.1.64", "admin", "secret", "channel 1", "192.168.1.64", "admin", "secret", "channel 1"},
        {0, x300, x300, p238, x300, x254, x254, p238, x254},
        {5, x300, x300, q250, x300, x254, x254, q250.substr(0, 239), x254},
    };
    CRelayPeer relay;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        CKorvane cam(MODE_NETWORK);
        cam.SetSocketParam(PROTOCOL_PELCO_D, c.address.c_str(), 80, 9600, c.user.c_str(), c.password.c_str(),
                           c.channel.c_str());
        cam.SetDeviceType(static_cast<DEVICETYPE>(c.type));  // either order works for relayed devices
        ReportCollector reports;
        reports.Attach(cam);
        ASSERT_EQ(cam.Open(), 1);
        const auto request = relay.NextOfKind(1, 3s);
        ASSERT_TRUE(request);
        const std::uint16_t eventPort = CRelayPeer::EventPortOf(request->bytes);
        ASSERT_NE(eventPort, 0);
        Bytes expected = Le32({1, static_cast<std::uint32_t>(c.type)}) + EventPortField(eventPort) + Le32({80, 9600});
        expected.resize(1024, 0);
        for (const auto& [at, text] : {std::pair{20, &c.sentAddress}, {275, &c.sentChannel}, {530, &c.sentUser},
                                       {785, &c.sentPassword}})
            std::copy(text->begin(), text->end(), expected.begin() + at);
        EXPECT_EQ(request->bytes, expected);
        cam.CameraStop();
        const std::uint32_t kind = c.type == DEVICE_TYPE_4 ? 4 : 0;
        EXPECT_EQ(NextCommand(relay), CommandDatagram(kind, eventPort, korvane::test::PelcoD(0, 0, 0, 0, 0)));
        relay.SendEvent(eventPort, "APPEARS");
        EXPECT_EQ(reports.WaitFor(1, c.type == DEVICE_TYPE_4 ? 3s : 300ms), c.type == DEVICE_TYPE_4);

        cam.Close();
        const auto notice = relay.NextOfKind(3, 3s);
        ASSERT_TRUE(notice);
        EXPECT_EQ(notice->bytes, Le32({3}) + EventPortField(eventPort));
        EXPECT_EQ(cam.Open(), 0) << "nothing is made again until the next SetDeviceType";
        cam.SetDeviceType(static_cast<DEVICETYPE>(c.type));
        EXPECT_EQ(cam.Open(), 1) << "which makes them again";
        ASSERT_TRUE(relay.NextOfKind(1, 3s));
        cam.Close();
        ASSERT_TRUE(relay.NextOfKind(3, 3s));
    }
}

TEST(Relay, EveryPelcoCommandArrivesAsItsCommandDatagram)
{
    struct Case {
        const char* name;
        std::function<int(CKorvane&)> call;
        int c1, c2, d1, d2;      // Pelco-D
        int p1, p2, pd1, pd2;    // Pelco-P
    };
    // Pan speed 100 and tilt speed 20: straight pans are capped at 63, the
    // diagonals carry both speeds as they are.
    const Case cases[] = {
        {"up", &CKorvane::MoveUp, 0x00, 0x08, 0x1E, 0x14, 0x00, 0x08, 0x1E, 0x14},
        {"down", &CKorvane::MoveDown, 0x00, 0x10, 0x1E, 0x14, 0x00, 0x10, 0x1E, 0x14},
        {"left", &CKorvane::MoveLeft, 0x00, 0x04, 0x3F, 0x1E, 0x00, 0x04, 0x3F, 0x1E},
        {"right", &CKorvane::MoveRight, 0x00, 0x02, 0x3F, 0x1E, 0x00, 0x02, 0x3F, 0x1E},
        {"top left", &CKorvane::MoveTopLeft, 0x00, 0x0C, 0x64, 0x14, 0x00, 0x0C, 0x64, 0x14},
        {"top right", &CKorvane::MoveTopRight, 0x00, 0x0A, 0x64, 0x14, 0x00, 0x0A, 0x64, 0x14},
        {"bottom left", &CKorvane::MoveButtomLeft, 0x00, 0x14, 0x64, 0x14, 0x00, 0x14, 0x64, 0x14},
        {"bottom right", &CKorvane::MoveButtomRight, 0x00, 0x12, 0x64, 0x14, 0x00, 0x12, 0x64, 0x14},
        {"stop", &CKorvane::CameraStop, 0, 0, 0, 0, 0, 0, 0, 0},
        {"zoom in", &CKorvane::ZoomPlus, 0x00, 0x20, 0, 0, 0x00, 0x20, 0, 0},
        {"zoom out", &CKorvane::ZoomMinus, 0x00, 0x40, 0, 0, 0x00, 0x40, 0, 0},
        {"focus far", &CKorvane::FocusPlus, 0x00, 0x80, 0, 0, 0x01, 0x00, 0, 0},
        {"focus near", &CKorvane::FocusMinus, 0x01, 0x00, 0, 0, 0x02, 0x00, 0, 0},
        {"iris open", &CKorvane::IrisPlus, 0x02, 0x00, 0, 0, 0x04, 0x00, 0, 0},
        {"iris close", &CKorvane::IrisMinus, 0x04, 0x00, 0, 0, 0x08, 0x00, 0, 0},
        {"track on", &CKorvane::OpenTrack, 0x00, 0x07, 0x00, 0x50, 0x00, 0x07, 0x00, 0x50},
        {"track off", &CKorvane::CloseTrack, 0x00, 0x07, 0x00, 0x51, 0x00, 0x07, 0x00, 0x51},
        {"auto zoom on", &CKorvane::OpenAutoZoom, 0x00, 0x07, 0x00, 0xDC, 0x00, 0x07, 0x00, 0xDC},
        {"auto zoom off", &CKorvane::CloseAutoZoom, 0x00, 0x07, 0x00, 0xDD, 0x00, 0x07, 0x00, 0xDD},
        {"auto write on", &CKorvane::OpenAutoWrite, 0x00, 0x07, 0x00, 0x78, 0x00, 0x07, 0x00, 0x78},
        {"auto write off", &CKorvane::CloseAutoWrite, 0x00, 0x07, 0x00, 0x79, 0x00, 0x07, 0x00, 0x79},
        {"call preset 300", [](CKorvane& c) { return c.PreSet(300, 0); }, 0x00, 0x07, 0x00, 0x2C, 0x00, 0x07, 0x00, 0x2C},
        {"set preset 5", [](CKorvane& c) { return c.PreSet(5, 1); }, 0x00, 0x03, 0x00, 0x05, 0x00, 0x03, 0x00, 0x05},
        {"clear preset 5", [](CKorvane& c) { return c.PreSet(5, 2); }, 0x00, 0x05, 0x00, 0x05, 0x00, 0x05, 0x00, 0x05},
    };
    CRelayPeer relay;
    // VISCA and unknown protocols send no command at all, each call still returns 1.
    for (const int protocol : std::initializer_list<int>{PROTOCOL_PELCO_D, PROTOCOL_PELCO_P, PROTOCOL_VISCA, 0, 9}) {
        SCOPED_TRACE(protocol);
        const bool pelco = protocol == PROTOCOL_PELCO_D || protocol == PROTOCOL_PELCO_P;
        Opened cam = OpenRelayCamera(relay, DEVICE_TYPE_2, protocol, 7);
        cam.camera->SetHorizonSpeed(100);
        cam.camera->SetVertcalSpeed(20);
        cam.camera->SetMoveTimeout(500);  // ONVIF's alone: the relay's datagrams stay as they are
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(c.call(*cam.camera), 1);
            const Bytes frame = protocol == PROTOCOL_PELCO_D ? korvane::test::PelcoD(7, c.c1, c.c2, c.d1, c.d2)
                                                             : korvane::test::PelcoP(7, c.p1, c.p2, c.pd1, c.pd2);
            if (pelco) EXPECT_EQ(NextCommand(relay), CommandDatagram(2, cam.eventPort, frame));
        }
        // An unknown preset operation sends nothing; the test frame is six bytes.
        EXPECT_EQ(cam.camera->PreSet(5, 3), 1);
        MessageBoxes boxes;
        EXPECT_EQ(cam.camera->ConnectTest(), 1);
        if (pelco) EXPECT_EQ(NextCommand(relay), CommandDatagram(2, cam.eventPort, B({0xAE, 7, 0x09, 0, 0, 0xFE})));
        EXPECT_EQ(boxes.Shown().size(), 1u);  // without a frame, the socket's last error
        cam.camera->Close();
        // Nothing more went out: the close notice comes next.
        const auto next = relay.NextDatagram(3s);
        ASSERT_TRUE(next);
        EXPECT_EQ(CRelayPeer::Describe(next->bytes).rfind("close:", 0), 0u) << CRelayPeer::Describe(next->bytes);
    }
}

// Open waits at most five seconds for the answer; only "FAI" (alone or with a
// zero) and answers longer than five bytes refuse.
TEST(Relay, TheAnswerDecidesTheOpen)
{
    struct Case {
        const char* name;
        std::optional<Bytes> answer;  // none: the relay stays silent
        int result;
    };
    const Case cases[] = {
        {"OK", B({'O', 'K'}), 1},           {"empty", Bytes{}, 1},
        {"five bytes", B({'H', 'E', 'L', 'L', 'O'}), 1},
        {"FAI", B({'F', 'A', 'I'}), 0},     {"FAI and zero", B({'F', 'A', 'I', 0}), 0},
        {"FAI, zero and more", B({'F', 'A', 'I', 0, 'X'}), 0},
        {"FAIL", B({'F', 'A', 'I', 'L'}), 1}, {"six bytes", B({'A', 'B', 'C', 'D', 'E', 'F'}), 0},
        {"a thousand bytes", Bytes(1000, 'A'), 0}, {"silence", std::nullopt, 0},
    };
    std::optional<CRelayPeer> relay(std::in_place);
    const auto opens = [](const char* name) {
        SCOPED_TRACE(name);
        auto cam = RelayCamera(DEVICE_TYPE_1);
        const auto start = std::chrono::steady_clock::now();
        const int result = cam->Open();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
        char reason[128];
        EXPECT_EQ(cam->GetLinkState(reason, sizeof reason), result ? KORVANE_LINK_OK : KORVANE_LINK_FAILED);
        if (!result) EXPECT_NE(reason[0], 0) << "a failed open says why";
        return result;
    };
    for (const Case& c : cases) {
        if (c.answer && c.answer->size() > 6 && korvane::platform::UnderWine()) {
            // WineReadsAnOversizedDatagramAsAnEmptyOne: wine cannot tell it.
            std::printf("skipped under wine: %s (an oversized answer reads as an empty one)\n", c.name);
            continue;
        }
        relay->SetAnswer(c.answer);
        EXPECT_EQ(opens(c.name), c.result) << c.name;
        EXPECT_TRUE(relay->NextOfKind(1, 3s));
    }
    relay.reset();
    EXPECT_EQ(opens("no relay"), 0);
}

TEST(Relay, WineReadsAnOversizedDatagramAsAnEmptyOne)
{
    if (!korvane::platform::UnderWine()) GTEST_SKIP() << "shows a wine behaviour; this is not wine";
    boost::asio::io_context io;
    boost::asio::ip::udp::socket receiver(io, {boost::asio::ip::address_v4::loopback(), 0});
    boost::asio::ip::udp::socket sender(io, {boost::asio::ip::address_v4::loopback(), 0});
    sender.send_to(boost::asio::buffer(Bytes(1000, 'A')), receiver.local_endpoint());
    std::array<std::uint8_t, 6> answer{};
    boost::asio::ip::udp::endpoint from;
    boost::system::error_code error;
    const std::size_t length = receiver.receive_from(boost::asio::buffer(answer), from, 0, error);
    EXPECT_FALSE(error) << "wine reports the truncation now (" << error.message()
                        << "): the oversized relay answer can be tested under wine too";
    EXPECT_EQ(length, 0u);
}

// Another host that learns the camera's relay port and answers first must
// not become the relay. Here it is 127.0.0.2, the only other address a
// loopback-only test has: a datagram addressed anywhere but 127.0.0.1.
TEST(Relay, OnlyTheRelayOnThisMachineIsHeard)
{
    CRelayPeer relay;
    relay.SetAnswer(std::nullopt);  // the real relay is slow: the stranger answers first
    auto cam = RelayCamera(DEVICE_TYPE_1);
    auto opened = std::async(std::launch::async, [&] { return cam->Open(); });
    const auto request = relay.NextOfKind(1, 3s);
    ASSERT_TRUE(request);

    boost::asio::io_context io;
    boost::asio::ip::udp::socket stranger(io, {boost::asio::ip::make_address_v4("127.0.0.2"), 0});
    const boost::asio::ip::udp::endpoint cameraSide(boost::asio::ip::make_address_v4("127.0.0.2"), request->fromPort);
    boost::system::error_code error;
    stranger.send_to(boost::asio::buffer(std::string("OK")), cameraSide, 0, error);
    ASSERT_FALSE(error);
    EXPECT_EQ(opened.get(), 0);  // no answer from the relay within 5 seconds
    cam->MoveUp();
    EXPECT_TRUE(relay.NextOfKind(2, 3s));  // commands still go to the relay
    EXPECT_EQ(stranger.available(), 0u) << "the stranger received a command";
}

// A relay that went away (killed, crashed) fails the commands after it with
// the system's reason, instead of their going into nothing, where the system
// tells the sender; one started again gets them, and they succeed.
TEST(Relay, CommandsToAKilledRelayFailUntilItIsBack)
{
    std::optional<CRelayPeer> relay(std::in_place);
    MessageBoxes boxes;
    auto cam = RelayCamera(DEVICE_TYPE_1);
    ASSERT_EQ(cam->Open(), 1);
    ASSERT_EQ(cam->MoveUp(), 1);
    relay.reset();
    int sent = 0;
    for (int i = 0; i < 3; ++i) sent += cam->MoveUp();
    char reason[256] = {};
#ifdef _WIN32
    // Windows tells a datagram's refusal to the next send: some of them fail.
    EXPECT_LT(sent, 3);
#else
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(cam->LastError(reason, sizeof reason), KORVANE_RESULT_LINK_FAILED);
    EXPECT_NE(std::string(reason).find("sending to the relay service"), std::string::npos) << reason;
#endif
    EXPECT_EQ(cam->GetLinkState(reason, sizeof reason), KORVANE_LINK_FAILED);
    // Back: commands succeed again; no refusal of before is kept to fail them
    // (on Windows the first may still carry the last dead one's).
    relay.emplace();
    int back = cam->MoveUp();
#ifdef _WIN32
    if (!back) back = cam->MoveUp();
#endif
    EXPECT_EQ(back, 1);
    EXPECT_EQ(cam->MoveUp(), 1);
    EXPECT_TRUE(relay->NextOfKind(2, 3s));
}

TEST(Relay, CommandsWithoutSocketsShowTheSendErrorAndFail)
{
    CRelayPeer relay;
    MessageBoxes boxes;
    CKorvane cam(MODE_NETWORK);
    cam.SetDeviceAddress(1);
    EXPECT_EQ(cam.MoveUp(), 0);
    char reason[256] = {};
    EXPECT_EQ(cam.LastError(reason, sizeof reason), KORVANE_RESULT_LINK_FAILED);
    EXPECT_NE(std::string(reason).find("sending to the relay service"), std::string::npos) << reason;
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].first, "提示");
    // The system's own wording of the error, whichever system this is.
    const std::string text = boost::system::error_code(boost::asio::error::bad_descriptor).message();
    const std::string badDescriptor = text.substr(0, text.find_last_not_of(" \t\r\n") + 1);
    EXPECT_NE(boxes.Shown()[0].second.find(badDescriptor), std::string::npos) << boxes.Shown()[0].second;
    EXPECT_EQ(cam.Open(), 0);
    EXPECT_FALSE(relay.NextDatagram(200ms));
}

// A hundred cameras share the one listener thread; each gets its own event,
// with its own context. Only the two event texts count (trailing zeros or
// anything after a zero aside): the rest, sent to camera 0 before its first
// and second events, reach nobody.
TEST(Relay, EachOfAHundredCamerasGetsOnlyItsOwnEventsOnTheListenerThread)
{
    CRelayPeer relay;
    constexpr int kCameras = 100;
    std::vector<ReportCollector> reports(kCameras);
    std::vector<Opened> cameras;
    for (int i = 0; i < kCameras; ++i)
        cameras.push_back(OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 1, &reports[i]));
    const std::string dropped[] = {"", "APPEARS\n", "appears", std::string(1024, 'A'),
                                   "APPEARS" + std::string(1018, '\0'), "APPEAR"};
    for (const std::string& datagram : dropped) relay.SendEvent(cameras[0].eventPort, datagram);
    const std::string kept[] = {"DISAPPEARS", "APPEARS", std::string("DISAPPEARS\0junk", 15),
                                "APPEARS" + std::string(1017, '\0')};  // exactly 1024 bytes
    for (int i = 0; i < kCameras; ++i) relay.SendEvent(cameras[i].eventPort, kept[i % 4]);
    for (const std::string& datagram : dropped) relay.SendEvent(cameras[0].eventPort, datagram);
    relay.SendEvent(cameras[0].eventPort, "APPEARS");
    const std::string text = "Camera Return Code";
    const std::thread::id listener = reports[0].WaitFor(1) ? reports[0].Reports()[0].thread : std::thread::id{};
    EXPECT_NE(listener, std::this_thread::get_id());
    for (int i = 0; i < kCameras; ++i) {
        ASSERT_TRUE(reports[i].WaitFor(1)) << "camera " << i;
        const auto got = reports[i].Reports()[0];
        EXPECT_EQ(got.message, i % 2 ? KORVANE_TARGET_APPEARS : KORVANE_TARGET_DISAPPEARS) << "camera " << i;
        EXPECT_EQ(got.context, &reports[i]);
        EXPECT_EQ(got.bytes, Bytes(text.begin(), text.end()));
        EXPECT_EQ(got.thread, listener);
    }
    ASSERT_TRUE(reports[0].WaitFor(2));
    EXPECT_EQ(reports[0].Messages(), (std::vector<unsigned int>{KORVANE_TARGET_DISAPPEARS, KORVANE_TARGET_APPEARS}));
}

// A camera leaves the listener when a second SetDeviceType replaces its
// sockets, when it is destroyed without Close, and when it closes itself from
// its own event callback; the listener then serves the next camera.
TEST(Relay, ReplacedDestroyedAndSelfClosedCamerasLeaveTheListener)
{
    CRelayPeer relay;
    ReportCollector reports;
    auto leaked = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 1, &reports);
    const std::uint16_t firstPort = leaked.eventPort;
    leaked.camera->SetDeviceType(DEVICE_TYPE_4);  // events stop until Open
    relay.SendEvent(firstPort, "APPEARS");
    ASSERT_EQ(leaked.camera->Open(), 1);
    const auto request = relay.NextOfKind(1, 3s);
    ASSERT_TRUE(request);
    const std::uint16_t secondPort = CRelayPeer::EventPortOf(request->bytes);
    relay.SendEvent(secondPort, "DISAPPEARS");
    ASSERT_TRUE(reports.WaitFor(1));
    EXPECT_EQ(reports.Reports()[0].message, KORVANE_TARGET_DISAPPEARS);
    leaked.camera.reset();
    relay.SendEvent(secondPort, "APPEARS");

    struct Host { CKorvane* camera = nullptr; ReportCollector reports; } host;
    Opened cam = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 2);
    host.camera = cam.camera.get();
    cam.camera->SetRecvNotify(
        [](const unsigned char* data, int length, unsigned int message, void* context) {
            auto* self = static_cast<Host*>(context);
            self->camera->Close();
            ReportCollector::Notify(data, length, message, &self->reports);
        },
        &host);
    relay.SendEvent(cam.eventPort, "APPEARS");
    ASSERT_TRUE(host.reports.WaitFor(1));
    ASSERT_TRUE(relay.NextOfKind(3, 3s));

    ReportCollector later;
    Opened next = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 3, &later);
    relay.SendEvent(next.eventPort, "DISAPPEARS");
    EXPECT_TRUE(later.WaitFor(1));
    EXPECT_EQ(reports.Count(), 1u) << "the replaced and the destroyed camera's ports reach nothing";
}

// An event report still running when the host calls Close has ended before
// Close returns: the host may free what the report uses.
TEST(Relay, CloseWaitsForTheReportThatIsRunning)
{
    struct Gate {
        std::promise<void> entered, release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<int> reports{0};
        std::atomic<bool> closed{false}, closedWhileRunning{false};
    } gate;
    CRelayPeer relay;
    // Another camera keeps the listener's thread running, so Close has no thread end to wait for.
    const Opened other = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 2);
    Opened cam = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D);
    cam.camera->SetRecvNotify(
        [](const unsigned char*, int, unsigned int, void* context) {
            auto* self = static_cast<Gate*>(context);
            if (self->reports++ > 0) return;
            self->entered.set_value();
            self->released.wait_for(5s);
            self->closedWhileRunning = self->closed.load();
        },
        &gate);
    relay.SendEvent(cam.eventPort, "APPEARS");
    ASSERT_EQ(gate.entered.get_future().wait_for(3s), std::future_status::ready);
    auto closing = std::async(std::launch::async, [&] {
        cam.camera->Close();
        gate.closed = true;
    });
    EXPECT_EQ(closing.wait_for(500ms), std::future_status::timeout) << "Close returned while the report ran";
    gate.release.set_value();
    closing.wait();
    EXPECT_FALSE(gate.closedWhileRunning);
}

// Relayed cameras opening and closing while events stream to every port the
// relay ever heard of: no event reaches a camera once its Close or destructor
// has returned, and each open camera gets its events.
TEST(RelayStress, CamerasOpenAndCloseWhileEventsStream)
{
    CRelayPeer relay;
    constexpr int kWorkers = 4;
    constexpr int kRounds = 12;
    std::atomic<bool> done{false};
    std::thread streamer([&] {
        std::set<std::uint16_t> ports;  // every event port announced so far
        while (!done) {
            while (const auto datagram = relay.NextDatagram(0ms))
                if (datagram->bytes[0] == 1) ports.insert(CRelayPeer::EventPortOf(datagram->bytes));
            for (const std::uint16_t port : ports) CRelayPeer::SendEvent(port, "APPEARS");
            std::this_thread::yield();
        }
    });

    // Each camera's reports outlive it: late events land there. How many it
    // had when its Close or destructor returned: any later one is late.
    std::vector<ReportCollector> reports(kWorkers * kRounds);
    std::vector<std::size_t> atGone(reports.size());
    std::atomic<int> missed{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                const std::size_t i = w * kRounds + round;
                auto cam = RelayCamera(DEVICE_TYPE_4, PROTOCOL_PELCO_D, static_cast<unsigned>(w + 1));
                reports[i].Attach(*cam);
                ASSERT_EQ(cam->Open(), 1);
                cam->MoveLeft();
                if (!reports[i].WaitFor(1, 3s)) ++missed;
                if (round % 2 == 0)
                    cam->Close();
                else
                    cam.reset();  // destroyed without Close
                atGone[i] = reports[i].Count();
                cam.reset();
            }
        });
    }
    for (auto& worker : workers) worker.join();
    done = true;
    streamer.join();

    EXPECT_EQ(missed.load(), 0);
    std::size_t late = 0;
    for (std::size_t i = 0; i < reports.size(); ++i) late += reports[i].Count() - atGone[i];
    EXPECT_EQ(late, 0u);
}

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
#include <cctype>
#include <cstdio>
#include <functional>
#include <future>
#include <string>

using korvane::sim::Bytes;
using korvane::sim::CRelayPeer;
using korvane::test::B;
using korvane::test::MessageBoxes;
using korvane::test::ReportCollector;
using namespace std::chrono_literals;

namespace {

void PutLe32(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes EventPortField(std::uint16_t port)
{
    return B({static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port & 0xFF), 0, 0});
}

Bytes CommandDatagram(std::uint32_t kind, std::uint32_t devicePort, std::uint16_t eventPort, const Bytes& frame)
{
    Bytes out;
    PutLe32(out, 2);
    PutLe32(out, kind);
    PutLe32(out, devicePort);
    const Bytes field = EventPortField(eventPort);
    out.insert(out.end(), field.begin(), field.end());
    PutLe32(out, static_cast<std::uint32_t>(frame.size()));
    out.insert(out.end(), frame.begin(), frame.end());
    out.resize(40, 0);
    return out;
}

Bytes PelcoD(std::uint8_t address, std::uint8_t c1, std::uint8_t c2, std::uint8_t d1, std::uint8_t d2)
{
    return B({0xFF, address, c1, c2, d1, d2, static_cast<std::uint8_t>(address + c1 + c2 + d1 + d2)});
}

Bytes PelcoP(std::uint8_t address, std::uint8_t c1, std::uint8_t c2, std::uint8_t d1, std::uint8_t d2)
{
    const std::uint8_t check = 0xA0 ^ address ^ c1 ^ c2 ^ d1 ^ d2 ^ 0xAF;
    return B({0xA0, address, c1, c2, d1, d2, 0xAF, check});
}

struct Opened {
    std::unique_ptr<CKorvane> camera;
    std::uint16_t eventPort = 0;
    Bytes openRequest;
};

// A relayed camera, set up and opened against the peer.
Opened OpenRelayCamera(CRelayPeer& relay, DEVICETYPE type, PTZPROTOCOL protocol, unsigned address = 1,
                       ReportCollector* reports = nullptr)
{
    Opened opened;
    opened.camera = std::make_unique<CKorvane>(MODE_NETWORK);
    opened.camera->SetDeviceType(type);
    opened.camera->SetDeviceAddress(address);
    opened.camera->SetSocketParam(protocol, "192.168.1.64", 80, 9600, "admin", "secret", "channel 1");
    if (reports) reports->Attach(*opened.camera);
    EXPECT_EQ(opened.camera->Open(), 1);
    const auto request = relay.NextOfKind(1, 3s);
    EXPECT_TRUE(request);
    if (request) {
        opened.openRequest = request->bytes;
        opened.eventPort = CRelayPeer::EventPortOf(request->bytes);
    }
    return opened;
}

Bytes NextCommand(CRelayPeer& relay)
{
    const auto datagram = relay.NextOfKind(2, 3s);
    return datagram ? datagram->bytes : Bytes{};
}

}  // namespace

TEST(Relay, OpenRequestAndCloseNoticeAreByteExact)
{
    CRelayPeer relay;
    Opened cam = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D);
    ASSERT_NE(cam.eventPort, 0);

    Bytes expected;
    PutLe32(expected, 1);
    PutLe32(expected, 4);
    const Bytes field = EventPortField(cam.eventPort);
    expected.insert(expected.end(), field.begin(), field.end());
    PutLe32(expected, 80);
    PutLe32(expected, 9600);
    expected.resize(1024, 0);
    const auto put = [&](std::size_t at, const std::string& text) { std::copy(text.begin(), text.end(), &expected[at]); };
    put(20, "192.168.1.64");
    put(275, "channel 1");
    put(530, "admin");
    put(785, "secret");
    EXPECT_EQ(cam.openRequest, expected);

    cam.camera->Close();
    const auto notice = relay.NextOfKind(3, 3s);
    ASSERT_TRUE(notice);
    Bytes closeNotice;
    PutLe32(closeNotice, 3);
    closeNotice.insert(closeNotice.end(), field.begin(), field.end());
    EXPECT_EQ(notice->bytes, closeNotice);
}

TEST(Relay, EveryPelcoCommandArrivesAsItsCommandDatagram)
{
    struct Case {
        const char* name;
        std::function<int(CKorvane&)> call;
        std::uint8_t c1, c2, d1, d2;       // Pelco-D
        std::uint8_t p1, p2, pd1, pd2;     // Pelco-P
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
    for (const PTZPROTOCOL protocol : {PROTOCOL_PELCO_D, PROTOCOL_PELCO_P}) {
        Opened cam = OpenRelayCamera(relay, DEVICE_TYPE_2, protocol, 7);
        cam.camera->SetHorizonSpeed(100);
        cam.camera->SetVertcalSpeed(20);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (protocol == PROTOCOL_PELCO_D ? " pelco-d" : " pelco-p"));
            EXPECT_EQ(c.call(*cam.camera), 1);
            const Bytes frame = protocol == PROTOCOL_PELCO_D ? PelcoD(7, c.c1, c.c2, c.d1, c.d2)
                                                             : PelcoP(7, c.p1, c.p2, c.pd1, c.pd2);
            EXPECT_EQ(NextCommand(relay), CommandDatagram(2, 80, cam.eventPort, frame));
        }
        // An unknown preset operation sends nothing; the test frame is six bytes.
        EXPECT_EQ(cam.camera->PreSet(5, 3), 1);
        MessageBoxes boxes;
        EXPECT_EQ(cam.camera->ConnectTest(), 1);
        EXPECT_EQ(NextCommand(relay), CommandDatagram(2, 80, cam.eventPort, B({0xAE, 7, 0x09, 0, 0, 0xFE})));
        ASSERT_EQ(boxes.Shown().size(), 1u);
        cam.camera->Close();
    }
}

TEST(Relay, TheAnswerDecidesTheOpen)
{
    struct Case {
        const char* name;
        Bytes answer;
        int result;
    };
    const Case cases[] = {
        {"OK", B({'O', 'K'}), 1},
        {"empty", Bytes{}, 1},
        {"five bytes", B({'H', 'E', 'L', 'L', 'O'}), 1},
        {"FAI", B({'F', 'A', 'I'}), 0},
        {"FAI and zero", B({'F', 'A', 'I', 0}), 0},
        {"FAI, zero and more", B({'F', 'A', 'I', 0, 'X'}), 0},
        {"FAIL", B({'F', 'A', 'I', 'L'}), 1},
        {"six bytes", B({'A', 'B', 'C', 'D', 'E', 'F'}), 0},
        {"a thousand bytes", Bytes(1000, 'A'), 0},
    };
    CRelayPeer relay;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.answer.size() > 6 && korvane::platform::UnderWine()) {
            // WineReadsAnOversizedDatagramAsAnEmptyOne: wine cannot tell it.
            std::printf("skipped under wine: %s (an oversized answer reads as an empty one)\n", c.name);
            continue;
        }
        relay.SetAnswer(c.answer);
        CKorvane cam(MODE_NETWORK);
        cam.SetDeviceType(DEVICE_TYPE_1);
        cam.SetSocketParam(PROTOCOL_PELCO_D, "10.0.0.9", 4001, 2400, "", "", "");
        EXPECT_EQ(cam.Open(), c.result);
        char reason[64];
        EXPECT_EQ(cam.GetLinkState(reason, sizeof reason), c.result ? KORVANE_LINK_OK : KORVANE_LINK_FAILED);
        EXPECT_TRUE(relay.NextOfKind(1, 3s));
    }
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

TEST(Relay, NoRelayOrASilentOneFailsOpenWithinFiveSeconds)
{
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "silent relay" : "no relay");
        std::optional<CRelayPeer> relay;
        if (running) {
            relay.emplace();
            relay->SetAnswer(std::nullopt);
        }
        CKorvane cam(MODE_NETWORK);
        cam.SetDeviceType(DEVICE_TYPE_4);
        cam.SetSocketParam(PROTOCOL_PELCO_D, "10.0.0.9", 4001, 2400, "", "", "");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(cam.Open(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
        char reason[128];
        EXPECT_EQ(cam.GetLinkState(reason, sizeof reason), KORVANE_LINK_FAILED);
        EXPECT_STREQ(reason, "the relay service on 127.0.0.1:20715 did not answer within 5 s");
    }
}

// Another host that learns the camera's relay port and answers first must
// not become the relay. Here it is 127.0.0.2, the only other address a
// loopback-only test has: a datagram addressed anywhere but 127.0.0.1.
TEST(Relay, OnlyTheRelayOnThisMachineIsHeard)
{
    CRelayPeer relay;
    relay.SetAnswer(std::nullopt);  // the real relay is slow: the stranger answers first
    CKorvane cam(MODE_NETWORK);
    cam.SetDeviceType(DEVICE_TYPE_1);
    cam.SetDeviceAddress(1);
    cam.SetSocketParam(PROTOCOL_PELCO_D, "10.0.0.9", 4001, 2400, "", "", "");
    auto opened = std::async(std::launch::async, [&] { return cam.Open(); });
    const auto request = relay.NextOfKind(1, 3s);
    ASSERT_TRUE(request);

    boost::asio::io_context io;
    boost::asio::ip::udp::socket stranger(io, {boost::asio::ip::make_address_v4("127.0.0.2"), 0});
    const boost::asio::ip::udp::endpoint cameraSide(boost::asio::ip::make_address_v4("127.0.0.2"), request->fromPort);
    boost::system::error_code error;
    stranger.send_to(boost::asio::buffer(std::string("OK")), cameraSide, 0, error);
    ASSERT_FALSE(error);
    EXPECT_EQ(opened.get(), 0);  // no answer from the relay within 5 seconds
    cam.MoveUp();
    stranger.non_blocking(true);
    std::array<std::uint8_t, 64> got{};
    boost::asio::ip::udp::endpoint from;
    EXPECT_EQ(stranger.receive_from(boost::asio::buffer(got), from, 0, error), 0u);
    EXPECT_EQ(error, boost::asio::error::would_block) << "the stranger received a command";
    EXPECT_TRUE(relay.NextOfKind(2, 3s));  // commands still go to the relay
}

TEST(Relay, ViscaAndUnknownProtocolsSendNoCommands)
{
    CRelayPeer relay;
    for (const int protocol : {static_cast<int>(PROTOCOL_VISCA), 0, 9}) {
        SCOPED_TRACE(protocol);
        Opened cam = OpenRelayCamera(relay, DEVICE_TYPE_1, static_cast<PTZPROTOCOL>(protocol));
        MessageBoxes boxes;
        cam.camera->MoveUp();
        cam.camera->PreSet(3, 0);
        cam.camera->OpenTrack();
        EXPECT_EQ(cam.camera->ConnectTest(), 1);
        EXPECT_EQ(boxes.Shown().size(), 1u);  // the socket's last error, still shown
        cam.camera->Close();
        const auto next = relay.NextDatagram(3s);  // the close notice comes first
        ASSERT_TRUE(next);
        EXPECT_EQ(korvane::sim::CRelayPeer::Describe(next->bytes).rfind("close:", 0), 0u)
            << CRelayPeer::Describe(next->bytes);
    }
}

TEST(Relay, CommandsWithoutSocketsShowTheSendErrorAndReturnOne)
{
    CRelayPeer relay;
    MessageBoxes boxes;
    CKorvane cam(MODE_NETWORK);
    cam.SetDeviceAddress(1);
    EXPECT_EQ(cam.MoveUp(), 1);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].first, "提示");
    // The system's own wording of the error, whichever system this is.
    std::string badDescriptor = boost::system::error_code(boost::asio::error::bad_descriptor).message();
    while (!badDescriptor.empty() && std::isspace(static_cast<unsigned char>(badDescriptor.back())))
        badDescriptor.pop_back();
    EXPECT_NE(boxes.Shown()[0].second.find(badDescriptor), std::string::npos) << boxes.Shown()[0].second;
    EXPECT_EQ(cam.Open(), 0);
    EXPECT_FALSE(relay.NextDatagram(200ms));

    // After Close nothing is made again until the next SetDeviceType.
    Opened opened = OpenRelayCamera(relay, DEVICE_TYPE_1, PROTOCOL_PELCO_D);
    opened.camera->Close();
    EXPECT_EQ(opened.camera->Open(), 0);
    opened.camera->SetDeviceType(DEVICE_TYPE_1);
    EXPECT_EQ(opened.camera->Open(), 1);
}

TEST(Relay, OtherDeviceTypesCarryKindZeroAndGetNoEvents)
{
    CRelayPeer relay;
    for (const int type : {0, 5}) {
        SCOPED_TRACE(type);
        ReportCollector reports;
        Opened cam = OpenRelayCamera(relay, static_cast<DEVICETYPE>(type), PROTOCOL_PELCO_D, 1, &reports);
        ASSERT_GE(cam.openRequest.size(), 8u);
        EXPECT_EQ(cam.openRequest[4], type);
        cam.camera->CameraStop();
        EXPECT_EQ(NextCommand(relay), CommandDatagram(0, 80, cam.eventPort, PelcoD(1, 0, 0, 0, 0)));
        relay.SendEvent(cam.eventPort, "APPEARS");
        EXPECT_FALSE(reports.WaitFor(1, 300ms));
    }
}

TEST(Relay, LongTextsAreCutToTheirFields)
{
    CRelayPeer relay;
    const std::string longText(300, 'x');
    const std::string password238(238, 'p');
    const std::string password250(250, 'q');
    for (const std::string* password : {&password238, &password250}) {
        CKorvane cam(MODE_NETWORK);
        cam.SetSocketParam(PROTOCOL_PELCO_D, longText.c_str(), 1, 2, longText.c_str(), password->c_str(),
                           longText.c_str());
        cam.SetDeviceType(DEVICE_TYPE_1);  // either order works for relayed devices
        ASSERT_EQ(cam.Open(), 1);
        const auto request = relay.NextOfKind(1, 3s);
        ASSERT_TRUE(request);
        const Bytes& bytes = request->bytes;
        ASSERT_EQ(bytes.size(), 1024u);
        for (const std::size_t at : {20u, 275u, 530u}) {
            EXPECT_EQ(std::string(&bytes[at], &bytes[at + 254]), std::string(254, 'x'));
            EXPECT_EQ(bytes[at + 254], 0);
        }
        const std::string sent(&bytes[785], &bytes[1024]);
        if (password == &password238)
            EXPECT_EQ(sent, password238 + '\0');
        else
            EXPECT_EQ(sent, password250.substr(0, 239));
    }
}

TEST(Relay, EachCameraGetsOnlyItsOwnEventsOnTheListenerThread)
{
    CRelayPeer relay;
    ReportCollector first, second;
    Opened a = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 1, &first);
    Opened b = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 2, &second);
    ASSERT_NE(a.eventPort, b.eventPort);

    relay.SendEvent(a.eventPort, "APPEARS");
    relay.SendEvent(b.eventPort, "DISAPPEARS");
    relay.SendEvent(a.eventPort, "DISAPPEARS");
    ASSERT_TRUE(first.WaitFor(2));
    ASSERT_TRUE(second.WaitFor(1));
    const auto ofFirst = first.Reports();
    const auto ofSecond = second.Reports();
    ASSERT_EQ(ofFirst.size(), 2u);
    ASSERT_EQ(ofSecond.size(), 1u);
    EXPECT_EQ(ofFirst[0].message, KORVANE_TARGET_APPEARS);
    EXPECT_EQ(ofFirst[1].message, KORVANE_TARGET_DISAPPEARS);
    EXPECT_EQ(ofSecond[0].message, KORVANE_TARGET_DISAPPEARS);
    EXPECT_EQ(ofFirst[0].context, &first);
    EXPECT_EQ(ofSecond[0].context, &second);
    const std::string text = "Camera Return Code";
    EXPECT_EQ(ofFirst[0].bytes, Bytes(text.begin(), text.end()));
    EXPECT_NE(ofFirst[0].thread, std::this_thread::get_id());
    EXPECT_EQ(ofFirst[0].thread, ofSecond[0].thread);  // one listener thread

    a.camera->Close();
    b.camera->Close();
    relay.SendEvent(a.eventPort, "APPEARS");

    // A camera opened after both closed gets events again.
    ReportCollector third;
    Opened c = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 3, &third);
    relay.SendEvent(c.eventPort, "APPEARS");
    ASSERT_TRUE(third.WaitFor(1));
    EXPECT_EQ(first.Count(), 2u);
}

TEST(Relay, OnlyTheTwoEventTextsAreReported)
{
    CRelayPeer relay;
    ReportCollector reports;
    Opened cam = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 1, &reports);
    Bytes exactly1024(1024, 0);
    std::copy_n("DISAPPEARS", 10, exactly1024.begin());
    Bytes full1024(1024, 'A');
    Bytes over1024(1025, 0);
    std::copy_n("APPEARS", 7, over1024.begin());
    const Bytes dropped[] = {Bytes{},  B({'A', 'P', 'P', 'E', 'A', 'R', 'S', '\n'}),
                             B({'a', 'p', 'p', 'e', 'a', 'r', 's'}), full1024, over1024,
                             B({'A', 'P', 'P', 'E', 'A', 'R'})};
    for (const Bytes& datagram : dropped) relay.SendRaw(cam.eventPort, datagram);
    relay.SendRaw(cam.eventPort, B({'A', 'P', 'P', 'E', 'A', 'R', 'S'}));
    relay.SendRaw(cam.eventPort, B({'A', 'P', 'P', 'E', 'A', 'R', 'S', 0, 'j', 'u', 'n', 'k'}));
    relay.SendRaw(cam.eventPort, exactly1024);
    ASSERT_TRUE(reports.WaitFor(3));
    const auto got = reports.Reports();
    EXPECT_EQ(got[0].message, KORVANE_TARGET_APPEARS);
    EXPECT_EQ(got[1].message, KORVANE_TARGET_APPEARS);
    EXPECT_EQ(got[2].message, KORVANE_TARGET_DISAPPEARS);
    // Nothing of the dropped ones came before, between or after.
    relay.SendEvent(cam.eventPort, "DISAPPEARS");
    ASSERT_TRUE(reports.WaitFor(4));
    EXPECT_EQ(reports.Count(), 4u);
}

TEST(Relay, ReplacedAndDestroyedCamerasLeaveTheListener)
{
    CRelayPeer relay;
    ReportCollector reports;
    auto leaked = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 1, &reports);
    const std::uint16_t firstPort = leaked.eventPort;

    // A second SetDeviceType: the old pair is closed, events stop until Open.
    leaked.camera->SetDeviceType(DEVICE_TYPE_4);
    relay.SendEvent(firstPort, "APPEARS");
    ASSERT_EQ(leaked.camera->Open(), 1);
    const auto request = relay.NextOfKind(1, 3s);
    ASSERT_TRUE(request);
    const std::uint16_t secondPort = CRelayPeer::EventPortOf(request->bytes);
    relay.SendEvent(secondPort, "DISAPPEARS");
    ASSERT_TRUE(reports.WaitFor(1));
    EXPECT_EQ(reports.Reports()[0].message, KORVANE_TARGET_DISAPPEARS);

    // Destroyed without Close: its port no longer reaches anything.
    leaked.camera.reset();
    relay.SendEvent(secondPort, "APPEARS");
    ReportCollector other;
    Opened next = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 2, &other);
    relay.SendEvent(next.eventPort, "APPEARS");
    ASSERT_TRUE(other.WaitFor(1));
    EXPECT_EQ(reports.Count(), 1u);
}

TEST(Relay, AHundredCamerasAllReceiveTheirEvents)
{
    CRelayPeer relay;
    constexpr int kCameras = 100;
    std::vector<ReportCollector> reports(kCameras);
    std::vector<Opened> cameras;
    for (int i = 0; i < kCameras; ++i)
        cameras.push_back(OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 1, &reports[i]));
    for (int i = 0; i < kCameras; ++i) relay.SendEvent(cameras[i].eventPort, i % 2 ? "APPEARS" : "DISAPPEARS");
    for (int i = 0; i < kCameras; ++i) {
        ASSERT_TRUE(reports[i].WaitFor(1)) << "camera " << i;
        EXPECT_EQ(reports[i].Reports()[0].message, i % 2 ? KORVANE_TARGET_APPEARS : KORVANE_TARGET_DISAPPEARS);
    }
}

TEST(Relay, CloseFromInsideTheEventCallback)
{
    CRelayPeer relay;
    struct Host {
        CKorvane* camera = nullptr;
        ReportCollector reports;
    } host;
    Opened cam = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D);
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
    // The listener came back for the next camera.
    ReportCollector later;
    Opened next = OpenRelayCamera(relay, DEVICE_TYPE_4, PROTOCOL_PELCO_D, 2, &later);
    relay.SendEvent(next.eventPort, "DISAPPEARS");
    EXPECT_TRUE(later.WaitFor(1));
}

// Tracking-system cameras over real UDP on 127.0.0.1, with the simulated
// tracking system as the peer. These tests share local port 10000 and run
// one at a time.
#include "CommandSteps.h"
#include "ReportCollector.h"
#include "sim/TrackingPeer.h"

#include <korvane/Korvane.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "TestBytes.h"
#include "platform/Wine.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

using korvane::sim::Bytes;
using korvane::sim::CTrackingPeer;
using korvane::test::ReportCollector;
using korvane::test::B;
using korvane::test::Got;
using korvane::test::Step;
using namespace std::chrono_literals;

namespace {

std::unique_ptr<CKorvane> TrackingCamera(CTrackingPeer& peer, unsigned address, PTZPROTOCOL protocol,
                                         ReportCollector* reports = nullptr)
{
    auto cam = std::make_unique<CKorvane>(MODE_TRACKSYSTEM);
    cam->SetDeviceAddress(address);
    cam->SetSystemParam(protocol, "127.0.0.1", peer.Port());
    if (reports) reports->Attach(*cam);
    return cam;
}

}  // namespace

// Each call, in order, and the datagrams it sends (none: nothing at all).
TEST(Tracking, CommandsArriveAsOneDatagramEach)
{
    struct Case { const char* name; unsigned address; PTZPROTOCOL protocol; std::vector<Step> steps; };
    const Case cases[] = {
        // Every Pelco frame is checked where it reaches the relay; here the
        // tracking system's own differences.
        {"pelco-d", 1, PROTOCOL_PELCO_D, {
            {&CKorvane::MoveUp, {B({0xFF, 0x01, 0x00, 0x08, 0x1E, 0x20, 0x47})}},
            // no preset operation 3, no auto-zoom or auto-write on the tracking system
            {[](CKorvane& c) { c.PreSet(5, 3), c.OpenAutoZoom(), c.CloseAutoWrite(); }, {}},
            {&CKorvane::OpenTrack, {B({0xAA, 0x40, 0x02, 0x01, 0x00})}},
            {&CKorvane::CloseTrack, {B({0xAA, 0x40, 0x02, 0x01, 0x01})}},
            // other system types have no tracking packet
            {[](CKorvane& c) { c.SetSystemType(static_cast<TRACKSYSTEMTYPE>(2)), c.OpenTrack(); }, {}},
            {&CKorvane::ConnectTest, {B({0xAE, 0x01, 0x09, 0x00, 0x00, 0xFE})}}}},
        {"pelco-p, address 300", 300, PROTOCOL_PELCO_P, {
            {&CKorvane::MoveLeft, {B({0xA0, 0x2C, 0x00, 0x04, 0x20, 0x1E, 0xAF, 0x19})}},
            {&CKorvane::IrisMinus, {B({0xA0, 0x2C, 0x08, 0x00, 0x00, 0x00, 0xAF, 0x2B})}},
            {&CKorvane::OpenTrack, {B({0xAA, 0x40, 0x02, 0x2C, 0x00})}}}},
        // VISCA frames are checked at the encoder; here the tracking system's
        // standard zoom, its preamble, and the tracking packet whatever the
        // protocol.
        {"visca", 1, PROTOCOL_VISCA, {
            {&CKorvane::ZoomPlus, {B({0x81, 0x01, 0x04, 0x07, 0x02, 0xFF})}},
            {&CKorvane::IrisPlus, {B({0x81, 0x01, 0x04, 0x39, 0x0B, 0xFF}), B({0x81, 0x01, 0x04, 0x0B, 0x02, 0xFF})}},
            {&CKorvane::OpenTrack, {B({0xAA, 0x40, 0x02, 0x01, 0x00})}}}},
    };
    korvane::test::MessageBoxes boxes;
    for (const Case& c : cases) {
        CTrackingPeer peer;
        auto cam = TrackingCamera(peer, c.address, c.protocol);
        ASSERT_EQ(cam->Open(), 1);
        korvane::test::ExpectSteps(*cam, c.steps, [&] { return Got(peer.NextDatagram(3s)); }, c.name);
        EXPECT_TRUE(peer.Silent(50ms));
    }
    EXPECT_EQ(boxes.Shown().size(), 1u) << "the connect test shows its result";
}

TEST(Tracking, ReportsAreRoutedByTheirAddressAndMayCloseTheirCamera)
{
    CTrackingPeer peer;
    ReportCollector twelve, zero;
    auto a = TrackingCamera(peer, 12, PROTOCOL_PELCO_D, &twelve);
    auto b = TrackingCamera(peer, 0, PROTOCOL_PELCO_D, &zero);
    ASSERT_EQ(a->Open(), 1);
    ASSERT_EQ(b->Open(), 1);
    peer.SendRaw(B({0xAA, 0x50, 0x02, 0x12, 0x01}));
    peer.SendRaw(B({0xAA, 0x50, 0x02, 0x12, 0x01, 0x00}));  // 6 bytes: not a report
    peer.SendRaw(B({0xAA, 0x50, 0x02, 0x12, 0x02}));        // state 2: nothing
    peer.SendRaw(B({0xAB, 0x50, 0x02, 0x12, 0x01}));        // wrong header
    peer.SendRaw(B({0xAA, 0x50, 0x02, 0x0C, 0x01}));        // 0x0C reads as camera 0
    peer.SendRaw(B({0xAA, 0x50, 0x02, 0x85, 0x00}));        // 0x85 reads as camera 0
    peer.SendRaw({});
    peer.SendRaw(B({0xAA, 0x50, 0x02, 0x12, 0x00}));
    ASSERT_TRUE(twelve.WaitFor(2));
    ASSERT_TRUE(zero.WaitFor(2));
    EXPECT_EQ(twelve.Messages(), (std::vector<unsigned int>{0x8400, 0x8401}));
    EXPECT_EQ(zero.Messages(), (std::vector<unsigned int>{0x8400, 0x8401}));
    EXPECT_EQ(twelve.Reports()[0].bytes, B({0xAA, 0x50, 0x02, 0x12, 0x01}));
    EXPECT_NE(twelve.Reports()[0].thread, std::this_thread::get_id());

    // A report function may close and set up its own camera again.
    struct {
        CKorvane* camera = nullptr;
        std::atomic<int> calls{0};
    } closing;
    auto cam = TrackingCamera(peer, 1, PROTOCOL_PELCO_D);
    closing.camera = cam.get();
    cam->SetRecvNotify(
        [](const unsigned char*, int, unsigned int, void* context) {
            auto* self = static_cast<decltype(closing)*>(context);
            self->camera->Close();
            self->camera->SetSystemParam(PROTOCOL_PELCO_D, "127.0.0.1", 9);  // allowed too
            self->camera->Close();
            ++self->calls;
        },
        &closing);
    ReportCollector watcher;
    auto other = TrackingCamera(peer, 2, PROTOCOL_PELCO_D, &watcher);
    peer.SendReport(1, 1);
    peer.SendReport(2, 1);
    ASSERT_TRUE(watcher.WaitFor(1));
    EXPECT_EQ(closing.calls.load(), 1);
}

// Camera 5 opened, a datagram of every length sent, and then its report
// still gets in. After the flood the socket's receive buffer may have
// overflowed (UDP drops, it does not wait): the report is sent again until
// one gets in. Wine crashes inside its completion port when a datagram larger
// than the posted buffer arrives (WineCrashesOnAnOversizedDatagramForACompletionPort):
// there, only datagrams that fit the service's 2048-byte buffer are sent.
TEST(Tracking, EveryDatagramLengthIsSurvived)
{
    CTrackingPeer peer;
    ReportCollector reports;
    auto cam = TrackingCamera(peer, 5, PROTOCOL_PELCO_D, &reports);
    ASSERT_EQ(cam->Open(), 1);
    // The oversized ones first, while the receive buffer has room for them.
    if (korvane::platform::UnderWine())
        std::printf("skipped under wine: datagrams larger than the service's buffer\n");
    else
        for (const std::size_t length : {2049, 3000, 9000}) peer.SendRaw(Bytes(length, 0xAA));
    Bytes junk;
    for (std::size_t length = 0; length <= 2048; ++length) {
        junk.assign(length, static_cast<std::uint8_t>(length * 37));
        if (length >= 3) junk[0] = 0xAA, junk[1] = 0x50, junk[2] = 0x02;
        if (length == 5) junk[4] = 0x07;  // a report shape with an unknown state
        peer.SendRaw(junk);
    }
    for (int attempt = 0; attempt < 20 && reports.Count() == 0; ++attempt) {
        peer.SendReport(5, 1);
        reports.WaitFor(1, std::chrono::milliseconds(500));
    }
    ASSERT_GE(reports.Count(), 1u);
    EXPECT_EQ(reports.Reports().back().bytes, B({0xAA, 0x50, 0x02, 0x05, 0x01}));
}

TEST(Tracking, WineCrashesOnAnOversizedDatagramForACompletionPort)
{
    if (!korvane::platform::UnderWine()) GTEST_SKIP() << "shows a wine behaviour; this is not wine";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // As the tracking service meets it: an oversized datagram and a report
    // already queued when the 2048-byte buffer is posted, again after every
    // completion.
    const auto receiveOversized = [] {
        boost::asio::io_context io;
        boost::asio::ip::udp::socket receiver(io, {boost::asio::ip::address_v4::loopback(), 0});
        boost::asio::ip::udp::socket sender(io, {boost::asio::ip::address_v4::loopback(), 0});
        std::array<std::uint8_t, 2048> buffer{};
        boost::asio::ip::udp::endpoint from;
        bool reportSeen = false;
        std::function<void()> post = [&] {
            receiver.async_receive_from(boost::asio::buffer(buffer), from,
                                        [&](const boost::system::error_code&, std::size_t length) {
                                            reportSeen = length == 5;
                                            if (!reportSeen) post();
                                        });
        };
        sender.send_to(boost::asio::buffer(Bytes(3000, 0xAA)), receiver.local_endpoint());
        sender.send_to(boost::asio::buffer(B({0xAA, 0x50, 0x02, 0x05, 0x01})), receiver.local_endpoint());
        post();
        io.run_for(std::chrono::seconds(5));
        std::exit(reportSeen ? 0 : 2);  // 0 where the completion port survives
    };
    // An access violation, not a lost report (2) nor survival (0).
    const auto accessViolation = [](int status) { return static_cast<unsigned>(status) == 0xC0000005u; };
    EXPECT_EXIT(receiveOversized(), accessViolation, "")
        << "wine survives it now: drop the wine skip in EveryDatagramLengthIsSurvived";
}

TEST(Tracking, LifetimesOfTheSharedServiceAndSettingsThatSendNothing)
{
    CTrackingPeer peer;
    ReportCollector first, second;
    auto owner = TrackingCamera(peer, 3, PROTOCOL_PELCO_D, &first);
    auto refused = TrackingCamera(peer, 3, PROTOCOL_PELCO_D, &second);  // address taken: may still send
    ASSERT_EQ(refused->Open(), 1);
    owner->Close();
    refused->MoveUp();
    EXPECT_EQ(Got(peer.NextDatagram(3s)).size(), 7u) << "the service lives while any camera uses it";
    peer.SendReport(3, 1);  // nobody registered under 3 now
    TrackingCamera(peer, 4, PROTOCOL_PELCO_D);  // made and destroyed without Close
    // The address changed after set-up: Close releases what was registered.
    auto moved = TrackingCamera(peer, 6, PROTOCOL_PELCO_D);
    moved->SetDeviceAddress(7);
    moved->Close();
    refused->Close();
    {
        // Nothing holds port 10000 now, the camera destroyed without Close included.
        boost::asio::io_context io;
        boost::asio::ip::udp::socket probe(io, boost::asio::ip::udp::v4());
        boost::system::error_code taken;
        probe.bind({boost::asio::ip::udp::v4(), 10000}, taken);
        EXPECT_FALSE(taken) << taken.message();
    }
    // A new camera binds it and receives.
    ReportCollector again;
    auto later = TrackingCamera(peer, 6, PROTOCOL_PELCO_D, &again);
    ASSERT_EQ(later->Open(), 1);
    peer.SendReport(6, 0);
    ASSERT_TRUE(again.WaitFor(1));
    EXPECT_EQ(again.Reports()[0].message, 0x8401u);
    EXPECT_EQ(first.Count() + second.Count(), 0u);
    later->Close();
    later->MoveUp();
    EXPECT_TRUE(peer.Silent(50ms)) << "after Close nothing is sent";

    // No settings, bad settings, or port 10000 taken by another program: each
    // call fails (0) and nothing is sent.
    CKorvane cam(MODE_TRACKSYSTEM);
    cam.SetDeviceAddress(1);
    EXPECT_EQ(cam.Open(), 0) << "no SetSystemParam, no service";
    EXPECT_EQ(cam.MoveUp(), 0);
    const std::uint16_t port = peer.Port();
    const std::tuple<int, const char*, unsigned> settings[] = {
        {PROTOCOL_PELCO_D, "", port},          {PROTOCOL_PELCO_D, "not-an-address", port},
        {PROTOCOL_PELCO_D, "999.1.1.1", port}, {PROTOCOL_PELCO_D, nullptr, port},
        {PROTOCOL_PELCO_D, "127.0.0.1", 0},    {9, "127.0.0.1", port}};
    for (const auto& [protocol, ip, to] : settings) {
        cam.SetSystemParam(static_cast<PTZPROTOCOL>(protocol), ip, to);
        // No address or protocol: nothing to send (0); port 0: the send fails (0).
        EXPECT_EQ(cam.MoveUp(), 0) << (ip ? ip : "null") << " port " << to;
        // An address that is none fails the open, and says so.
        char why[160] = {};
        if (ip && std::string(ip) == "not-an-address") {
            EXPECT_EQ(cam.Open(), 0);
            cam.LastError(why, sizeof why);
            EXPECT_NE(std::string(why).find("'not-an-address' is not an IPv4 address"), std::string::npos) << why;
        }
    }
    EXPECT_TRUE(peer.Silent(50ms));
    // The port keeps its low 16 bits: port + 65536 reaches the same peer.
    cam.SetSystemParam(PROTOCOL_PELCO_D, "127.0.0.1", port + 65536u);
    cam.CameraStop();
    EXPECT_EQ(Got(peer.NextDatagram(3s)), B({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
    cam.Close();

    boost::asio::io_context io;
    boost::asio::ip::udp::socket squatter(io, {boost::asio::ip::udp::v4(), 10000});
    cam.SetSystemParam(PROTOCOL_PELCO_D, "127.0.0.1", port);
    EXPECT_EQ(cam.Open(), 0) << "port 10000 is taken";
    char why[160] = {};
    cam.LastError(why, sizeof why);
    EXPECT_NE(std::string(why).find("local UDP port 10000"), std::string::npos) << why;
    EXPECT_EQ(cam.MoveUp(), 0);
    EXPECT_TRUE(peer.Silent(50ms));
    squatter.close();
    cam.SetSystemParam(PROTOCOL_PELCO_D, "127.0.0.1", port);
    EXPECT_EQ(cam.Open(), 1) << "free again";
}

TEST(TrackingStress, CamerasComeAndGoDuringAReportFlood)
{
    CTrackingPeer peer;
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        CTrackingPeer sender;
        for (int address = 0; !stop; address = (address + 1) % 8)
            sender.SendReport(address, static_cast<std::uint8_t>(address & 1));
    });
    std::vector<std::thread> workers;
    std::atomic<std::size_t> late{0};
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            for (int round = 0; round < 50; ++round) {
                ReportCollector reports;  // outlives its camera: a late report lands here
                auto cam = TrackingCamera(peer, static_cast<unsigned>(w * 2 + round % 2), PROTOCOL_PELCO_D, &reports);
                cam->Open();
                for (int i = 0; i < 5; ++i) cam->MoveRight();
                if (round % 3 == 0)
                    cam.reset();
                else
                    cam->Close();
                const std::size_t atClose = reports.Count();
                cam.reset();
                late += reports.Count() - atClose;
            }
        });
    for (auto& t : workers) t.join();
    stop = true;
    flood.join();
    EXPECT_EQ(late.load(), 0u) << "a report ran after Close had returned";
}

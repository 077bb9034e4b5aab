// The exported class: dispatch by mode, unknown modes, copies that share one
// camera, and bad input that must neither crash nor leak.
#include "SerialTestSupport.h"
#include "TestBytes.h"

#include <korvane/Korvane.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

using korvane::sim::CSerialPeer;
using namespace std::chrono_literals;

namespace {

using Command = int (CKorvane::*)();
const Command kCommands[] = {
    &CKorvane::MoveUp,        &CKorvane::MoveDown,        &CKorvane::MoveLeft,      &CKorvane::MoveRight,
    &CKorvane::MoveTopLeft,   &CKorvane::MoveTopRight,    &CKorvane::MoveButtomLeft, &CKorvane::MoveButtomRight,
    &CKorvane::CameraStop,    &CKorvane::ZoomPlus,        &CKorvane::ZoomMinus,     &CKorvane::FocusPlus,
    &CKorvane::FocusMinus,    &CKorvane::IrisPlus,        &CKorvane::IrisMinus,     &CKorvane::OpenTrack,
    &CKorvane::CloseTrack,    &CKorvane::OpenAutoZoom,    &CKorvane::CloseAutoZoom, &CKorvane::OpenAutoWrite,
    &CKorvane::CloseAutoWrite, &CKorvane::ConnectTest,
};

}  // namespace

// Only a serial camera takes a serial line; a camera of an unknown mode does
// nothing, succeeds and shows nothing; a serial camera without a port fails
// every command with its reason, and bad input never crashes it.
TEST(Facade, UnknownModesDoNothingAndBadInputNeverCrashes)
{
    CSerialPeer peer;
    korvane::test::MessageBoxes boxes;
    MYDCB dcb{9600, 8, 1};
    for (const int mode : std::initializer_list<int>{MODE_NETWORK, MODE_TRACKSYSTEM, 0, 4, -1, 1000}) {
        CKorvane cam(static_cast<KORVANEMODE>(mode));
        EXPECT_FALSE(cam.SetCommDevice(peer.DeviceName().c_str(), dcb));
        if (mode == MODE_NETWORK || mode == MODE_TRACKSYSTEM) continue;  // their own links: their own tests
        cam.SetDeviceAddress(1);
        cam.SetSystemParam(PROTOCOL_PELCO_D, "127.0.0.1", 1);
        cam.SetSocketParam(PROTOCOL_PELCO_D, nullptr, 0, 0, nullptr, nullptr, nullptr);
        EXPECT_EQ(cam.Open(), 1);
        for (Command command : kCommands) EXPECT_EQ((cam.*command)(), 1);
        EXPECT_EQ(cam.PreSet(1, 0), 1);
        cam.Close();
    }
    EXPECT_TRUE(peer.Silent(50ms));
    EXPECT_TRUE(boxes.Shown().empty()) << "a camera of no mode shows nothing";

    CKorvane cam(MODE_SERIAL);
    EXPECT_FALSE(cam.SetCommDevice(nullptr, dcb));
    EXPECT_FALSE(cam.SetCommDevice("", dcb));
    cam.SetDeviceAddress(0xFFFFFFFFu);
    cam.SetHorizonSpeed(-2147483647 - 1);
    cam.SetVertcalSpeed(2147483647);
    cam.SetRecvNotify(nullptr, nullptr);
    cam.SetDeviceType(static_cast<DEVICETYPE>(99));
    cam.SetSystemType(static_cast<TRACKSYSTEMTYPE>(-5));
    char why[128];
    for (Command command : kCommands) {
        EXPECT_EQ((cam.*command)(), 0);
        EXPECT_EQ(cam.LastError(why, sizeof why), KORVANE_RESULT_NOT_OPEN) << why;
    }
    for (int op = 0; op < 256; op += 51) EXPECT_EQ(cam.PreSet(-1, static_cast<unsigned char>(op)), 0);
    EXPECT_EQ(cam.Open(), 0) << "a serial camera without a port";
    cam.Close();
    cam.Close();
}

TEST(Facade, CopiesShareOneCameraAndTheLastReleasesIt)
{
    CSerialPeer peer;
    {
        CKorvane other(MODE_SERIAL);
        {
            auto first = korvane::test::SerialCamera(peer.DeviceName(), 1);
            ASSERT_TRUE(first);
            other = *first;
            other = other;  // self-assignment keeps it
            CKorvane copy(*first);
        }
        // The first object is gone; the copy still drives the same camera.
        EXPECT_EQ(other.MoveDown(), 1);
        EXPECT_EQ(korvane::test::Got(peer.NextFrame(3s)), korvane::test::PelcoD(1, 0x00, 0x10, 0x1E, 0x1E));
        // Replacing the last holder releases the camera and frees the line.
        other = CKorvane(MODE_SERIAL);
    }
    EXPECT_TRUE(korvane::test::SerialCamera(peer.DeviceName(), 1)) << "address 1 was released";
}

namespace {

struct HandlerContext {
    std::atomic<int> inside{0};
    std::atomic<bool> replaced{false};
    bool setsItself = false;
};
std::atomic<int> g_handlerCalls{0};
std::atomic<int> g_lateCalls{0};

// Dwells a little, so that calls overlap the swaps.
void CountingHandler(const char*, const char*, void* ctx)
{
    auto& context = *static_cast<HandlerContext*>(ctx);
    ++g_handlerCalls;
    ++context.inside;
    if (context.replaced) ++g_lateCalls;
    if (context.setsItself) KorvaneSetMessageHandler(CountingHandler, ctx);  // must not wait for itself
    for (int i = 0; i < 200; ++i) std::this_thread::yield();
    --context.inside;
}

}  // namespace

// A replaced message handler has finished once the setter returns, while
// three threads show messages; handlers that set the handler themselves, on
// several threads at once, do not deadlock.
TEST(Facade, AReplacedMessageHandlerHasFinishedWhenTheSetterReturns)
{
    for (const bool setsItself : {false, true}) {
        std::atomic<bool> done{false};
        std::vector<std::unique_ptr<HandlerContext>> contexts;
        std::vector<std::thread> showing;
        for (int swap = 0; swap < 3000; ++swap) {
            contexts.push_back(std::make_unique<HandlerContext>());
            contexts.back()->setsItself = setsItself;
            KorvaneSetMessageHandler(CountingHandler, contexts.back().get());
            if (swap == 0) {
                g_handlerCalls = 0;
                for (int t = 0; t < 3; ++t)
                    showing.emplace_back([&] {
                        CKorvane cam(MODE_SERIAL);  // no line: the test shows the system's text
                        while (!done) cam.ConnectTest();
                    });
                const auto deadline = std::chrono::steady_clock::now() + 5s;
                while (g_handlerCalls < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
                continue;
            }
            // A handler setting the handler is still in its own call, which
            // no setter can wait for: there only the deadlock is tested.
            if (setsItself) continue;
            HandlerContext& old = *contexts[contexts.size() - 2];
            old.replaced = true;
            EXPECT_EQ(old.inside.load(), 0) << "swap " << swap;
        }
        done = true;
        for (auto& thread : showing) thread.join();
        KorvaneSetMessageHandler(nullptr, nullptr);
        EXPECT_GE(g_handlerCalls.load(), 3) << "the handlers ran";
    }
    EXPECT_EQ(g_lateCalls.load(), 0);
}

// A command's 0 says why, read right after it on the same thread; a success
// leaves no reason behind. The reasons are the capability rules' own words.
TEST(Facade, AFailedCommandSaysWhyOnItsOwnThread)
{
    CSerialPeer peer;
    auto visca = korvane::test::SerialCamera(peer.DeviceName(), 1, nullptr, PROTOCOL_VISCA);
    auto pelco = korvane::test::SerialCamera(peer.DeviceName(), 2);
    ASSERT_TRUE(visca && pelco);
    CKorvane closed(MODE_SERIAL);
    const std::string noLine =
        "the camera has no serial line (SetCommDevice failed or was not called, or the camera was closed)";
    const struct {
        CKorvane* cam;
        std::function<int(CKorvane&)> call;
        int result, outcome;
        std::string reason;
    } cases[] = {
        {visca.get(), [](CKorvane& c) { return c.ConnectTest(); }, 0, KORVANE_RESULT_UNSUPPORTED,
         "VISCA has no connection-test frame"},
        {visca.get(), [](CKorvane& c) { return c.MoveUp(); }, 1, KORVANE_RESULT_OK, ""},
        {visca.get(), [](CKorvane& c) { return c.OpenAutoWrite(); }, 0, KORVANE_RESULT_UNSUPPORTED,
         "autowrite is a Pelco preset; VISCA has none"},
        {pelco.get(), [](CKorvane& c) { return c.PreSet(3, 9); }, 0, KORVANE_RESULT_UNSUPPORTED,
         "preset operation 9 is none of go to (0), set (1) and clear (2)"},
        {pelco.get(), [](CKorvane& c) { return c.MoveLeft() + c.MoveRight(); }, 2, KORVANE_RESULT_OK, ""},
        {&closed, [](CKorvane& c) { return c.CameraStop(); }, 0, KORVANE_RESULT_NOT_OPEN, noLine},
        {pelco.get(), [](CKorvane& c) { return c.Close(), c.CameraStop(); }, 0, KORVANE_RESULT_NOT_OPEN, noLine},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(*c.cam), c.result) << c.reason;
        char why[256] = "unchanged";
        EXPECT_EQ(c.cam->LastError(why, sizeof why), c.outcome) << c.reason;
        EXPECT_EQ(why, c.reason);
        // Another thread's calls keep their own last error.
        std::thread([] {
            char other[8] = "x";
            EXPECT_EQ(CKorvane(MODE_SERIAL).LastError(other, sizeof other), KORVANE_RESULT_OK);
            EXPECT_STREQ(other, "");
        }).join();
    }
}

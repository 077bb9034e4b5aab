// The serial line end to end: shared ports, return codes routed by address to
// their own camera on the library's thread, exclusive and failing opens, and
// lines that go away.
#include "SerialTestSupport.h"

#include "TestBytes.h"
#include "platform/Wine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using korvane::sim::CSerialPeer;
using korvane::test::ReportCollector;
using korvane::test::SerialCamera;
using korvane::test::B;
using korvane::test::PelcoD;
using korvane::test::PelcoP;
using korvane::sim::Bytes;
using namespace std::chrono_literals;
using Command = int (CKorvane::*)();

namespace {

// True when another program could take the device for itself now.
bool DeviceIsFree(const std::string& device) { return korvane::sim::CDeviceHolder(device).Holds(); }

// Wine lets a second program open a COM port that one holds without sharing
// (WineTakesAnySpeedAndASecondOpenOfAHeldComPort shows it): there, a held
// device cannot be told from a free one.
bool HeldDevicesAreRefused() { return !korvane::platform::UnderWine(); }

// Wine's serial driver takes any speed (shown by the same test).
bool ImpossibleSettingsAreRefused() { return !korvane::platform::UnderWine(); }

}  // namespace

TEST(SerialLine, TwoCamerasShareALineEachGetsItsOwnReports)
{
    CSerialPeer peer;
    ReportCollector first, second;
    auto one = SerialCamera(peer.DeviceName(), 1, &first);
    auto ten = SerialCamera(peer.DeviceName(), 10, &second, PROTOCOL_PELCO_P);
    ASSERT_TRUE(one && ten);
    ASSERT_EQ(one->Open(), 1);
    ASSERT_EQ(ten->Open(), 1);
    // Each Open with a notify function sends its two presets; the line takes
    // the cameras' commands in turn, each camera's in its order.
    std::map<int, std::vector<Bytes>> sent;  // by address byte: 0x01 pelco-d 1, 0x0A pelco-p 10
    for (int i = 0; i < 4; ++i) {
        const auto frame = peer.NextFrame(3s);
        ASSERT_TRUE(frame);
        sent[(*frame)[1]].push_back(*frame);
    }
    EXPECT_EQ(sent[0x01], (std::vector<Bytes>{PelcoD(1, 0, 7, 0, 0x58), PelcoD(1, 0, 7, 0, 0x64)}));
    EXPECT_EQ(sent[0x0A], (std::vector<Bytes>{PelcoP(10, 0, 7, 0, 0x58), PelcoP(10, 0, 7, 0, 0x64)}));

    // Back to back: a newer move replaces one not yet sent, so fewer frames
    // go out, but each camera's in order, and neither the last move nor a
    // stop is lost: camera 10's last frame is its stop, never a move before it.
    sent.clear();
    for (int i = 0; i < 20; ++i) {
        one->SetHorizonSpeed(i);
        one->MoveRight();
        ten->MoveUp();
        ten->CameraStop();
    }
    for (auto frame = peer.NextFrame(3s); frame; frame = peer.NextFrame(300ms)) sent[(*frame)[1]].push_back(*frame);
    ASSERT_FALSE(sent[0x01].empty());
    ASSERT_FALSE(sent[0x0A].empty());
    int lastSpeed = -1;
    for (const Bytes& frame : sent[0x01]) {
        EXPECT_EQ(frame[3], 0x02) << "a move right";
        EXPECT_GT(frame[4], lastSpeed) << "moves keep their order";
        lastSpeed = frame[4];
    }
    EXPECT_EQ(lastSpeed, 19) << "the last move went out";
    EXPECT_EQ(sent[0x0A].back(), PelcoP(10, 0, 0, 0, 0));

    // Address byte 0x10 is camera 10, not 16.
    for (const auto& [address, code] : {std::pair{10, 0x56}, {1, 0x50}, {1, 0x57}}) peer.SendReturnCode(address, code);
    ASSERT_TRUE(first.WaitFor(2));
    ASSERT_TRUE(second.WaitFor(1));
    EXPECT_EQ(first.Messages(), (std::vector<unsigned int>{0x8400, 0x8407}));
    EXPECT_EQ(second.Messages(), std::vector<unsigned int>{0x8406});
    const auto a = first.Reports();
    const auto b = second.Reports();
    EXPECT_EQ(a[0].bytes, PelcoD(1, 0, 7, 0, 0x50));
    EXPECT_EQ(a[0].context, &first);
    EXPECT_EQ(b[0].bytes[1], 0x10);
    EXPECT_EQ(b[0].context, &second);
    EXPECT_NE(a[0].thread, std::this_thread::get_id());
    EXPECT_EQ(a[0].thread, b[0].thread) << "one receive thread serves the line";
}

TEST(SerialLine, AnAddressIsBoundOnceToItsCameraAndTheLastCameraClosesTheDevice)
{
    CSerialPeer peer;
    auto one = SerialCamera(peer.DeviceName(), 1);
    ASSERT_TRUE(one);
    EXPECT_FALSE(SerialCamera(peer.DeviceName(), 1)) << "address 1 is taken on this line";
    // The second camera's settings are ignored: the line keeps 9600 baud.
    auto two = std::make_unique<CKorvane>(MODE_SERIAL);
    two->SetDeviceAddress(2);
    MYDCB other{12345, 5, PROTOCOL_PELCO_D};
    ASSERT_TRUE(two->SetCommDevice(peer.DeviceName().c_str(), other));
    if (HeldDevicesAreRefused()) EXPECT_FALSE(DeviceIsFree(peer.DeviceName()));
    one->Close();
    if (HeldDevicesAreRefused()) EXPECT_FALSE(DeviceIsFree(peer.DeviceName())) << "camera 2 still uses the line";
    two->MoveUp();
    EXPECT_EQ(*peer.NextFrame(3s), B({0xFF, 0x02, 0x00, 0x08, 0x1E, 0x1E, 0x46}));
    two->Close();
    EXPECT_TRUE(DeviceIsFree(peer.DeviceName()));
    two->MoveUp();
    EXPECT_TRUE(peer.Silent(50ms)) << "after Close frames are dropped";
    {
        // Bindings follow the camera, not its address.
        {
            auto moved = SerialCamera(peer.DeviceName(), 5);
            ASSERT_TRUE(moved);
            moved->SetDeviceAddress(6);  // after binding: reports still come as 5
            moved->Close();              // releases the binding made under 5
            EXPECT_TRUE(DeviceIsFree(peer.DeviceName()));
        }
        auto keeper = SerialCamera(peer.DeviceName(), 9);
        {
            auto leaked = SerialCamera(peer.DeviceName(), 5);
            ASSERT_TRUE(leaked);
            ASSERT_EQ(leaked->Open(), 1);
            // destroyed without Close
        }
        ReportCollector reports;
        auto again = SerialCamera(peer.DeviceName(), 5, &reports);
        ASSERT_TRUE(again) << "destruction released address 5";
        ASSERT_EQ(again->Open(), 1);
        for (const int preset : {0x58, 0x64}) EXPECT_EQ(peer.NextFrame(3s).value_or(Bytes{}), PelcoD(5, 0, 7, 0, preset));
        peer.SendReturnCode(5, 0x52);
        ASSERT_TRUE(reports.WaitFor(1));
        EXPECT_EQ(reports.Reports()[0].message, 0x8402u);
    }
    // A reopened line takes the settings then given; bound again, it sends again.
    if (!ImpossibleSettingsAreRefused()) GTEST_SKIP() << "the rest needs a line that refuses 12345 baud; wine's takes it";
    EXPECT_FALSE(two->SetCommDevice(peer.DeviceName().c_str(), other));
    MYDCB good{19200, 8, PROTOCOL_PELCO_D};
    ASSERT_TRUE(two->SetCommDevice(peer.DeviceName().c_str(), good));
    two->MoveUp();
    EXPECT_EQ(*peer.NextFrame(3s), B({0xFF, 0x02, 0x00, 0x08, 0x1E, 0x1E, 0x46}));
}

TEST(SerialLine, BusyDevicesAreRetriedMissingOnesFailAtOnce)
{
    if (!HeldDevicesAreRefused()) GTEST_SKIP() << "wine does not refuse a second open of a held COM port";
    CSerialPeer peer;
    auto holder = std::make_unique<korvane::sim::CDeviceHolder>(peer.DeviceName());
    ASSERT_TRUE(holder->Holds());
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SerialCamera(peer.DeviceName(), 1));
    const auto busyTime = std::chrono::steady_clock::now() - start;
    EXPECT_GE(busyTime, 250ms) << "six attempts, five pauses of 50 ms";
    holder.reset();
    EXPECT_TRUE(SerialCamera(peer.DeviceName(), 1)) << "free again";

    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SerialCamera("/dev/korvane-no-such-device", 1));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
}

// Settings the line cannot run (speed 0 would hang a POSIX line up) are
// refused and leave the device alone for the next camera.
TEST(SerialLine, SettingsTheLineCannotRunAreRefused)
{
    CSerialPeer peer;
    std::vector<MYDCB> impossible = {{0, 8, PROTOCOL_PELCO_D}, {9600, 0, PROTOCOL_PELCO_D}};
    if (ImpossibleSettingsAreRefused()) impossible.push_back({12345, 8, PROTOCOL_PELCO_D});  // wine's driver takes any speed
    for (MYDCB dcb : impossible) {
        CKorvane cam(MODE_SERIAL);
        EXPECT_FALSE(cam.SetCommDevice(peer.DeviceName().c_str(), dcb)) << dcb.BaudRate << " baud, " << int(dcb.ByteSize) << " bits";
        EXPECT_TRUE(DeviceIsFree(peer.DeviceName())) << dcb.BaudRate << " baud";
    }
    auto camera = SerialCamera(peer.DeviceName(), 1);
    ASSERT_TRUE(camera);
    camera->MoveUp();
    EXPECT_TRUE(peer.NextFrame(3s));
}

TEST(SerialLine, WineTakesAnySpeedAndASecondOpenOfAHeldComPort)
{
    if (!korvane::platform::UnderWine()) GTEST_SKIP() << "shows a wine behaviour; this is not wine";
    CSerialPeer peer;
    {
        CKorvane cam(MODE_SERIAL);
        MYDCB oddSpeed{12345, 8, PROTOCOL_PELCO_D};
        EXPECT_TRUE(cam.SetCommDevice(peer.DeviceName().c_str(), oddSpeed))
            << "wine refuses 12345 baud now: the speed checks can run under wine too";
    }
    korvane::sim::CDeviceHolder first(peer.DeviceName());
    ASSERT_TRUE(first.Holds());
    EXPECT_TRUE(DeviceIsFree(peer.DeviceName()))
        << "wine now refuses a second open: the busy-device checks can run under wine too";
}

TEST(SerialLine, AVanishedLineStopsOnlyItself)
{
    if (!CSerialPeer::HangupReachesTheCamera())
        GTEST_SKIP() << "the ends of a COM-port pair stay up when the other closes: no line can vanish";
    auto gone = std::make_unique<CSerialPeer>();
    CSerialPeer stays;
    ReportCollector goneReports, staysReports;
    auto a = SerialCamera(gone->DeviceName(), 1);
    auto b = SerialCamera(stays.DeviceName(), 1);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->Open(), 1);
    ASSERT_EQ(b->Open(), 1);
    goneReports.Attach(*a);  // after Open: no presets on the line
    staysReports.Attach(*b);
    gone->Hangup();
    a->MoveUp();  // written into the void, and harmless
    stays.SendReturnCode(1, 0x50);
    ASSERT_TRUE(staysReports.WaitFor(1));
    b->MoveDown();
    EXPECT_EQ((*stays.NextFrame(3s))[3], 0x10);
    a->Close();
    EXPECT_EQ(goneReports.Count(), 0u);
    // A later camera on a new line works.
    CSerialPeer fresh;
    ASSERT_TRUE(SerialCamera(fresh.DeviceName(), 1));
}

// Alone on its line, the close ends the device: the stop queued just before
// must still reach it.
TEST(SerialLine, ACallbackMayStopAndCloseItsOwnCamera)
{
    for (const bool alone : {true, false}) {
        SCOPED_TRACE(alone ? "alone on its line" : "beside another camera");
        CSerialPeer peer;
        struct { CKorvane* camera = nullptr; ReportCollector reports; } closing;
        ReportCollector other;
        auto cam = SerialCamera(peer.DeviceName(), 1);
        auto neighbour = alone ? nullptr : SerialCamera(peer.DeviceName(), 2, &other);
        ASSERT_TRUE(cam && (alone || neighbour));
        closing.camera = cam.get();
        cam->SetRecvNotify(
            [](const unsigned char* data, int length, unsigned int message, void* context) {
                auto* self = static_cast<decltype(closing)*>(context);
                self->camera->CameraStop();  // stops and closes its own camera from the report
                self->camera->Close();
                ReportCollector::Notify(data, length, message, &self->reports);
            },
            &closing);
        ASSERT_EQ(cam->Open(), 1);
        if (neighbour) ASSERT_EQ(neighbour->Open(), 1);
        peer.SendReturnCode(1, 0x50);
        peer.SendReturnCode(1, 0x51);  // after the close: not delivered
        if (neighbour) peer.SendReturnCode(2, 0x55);
        ASSERT_TRUE(closing.reports.WaitFor(1));
        bool stopped = false;
        while (auto frame = peer.NextFrame(2s))
            if ((stopped = *frame == B({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}))) break;
        EXPECT_TRUE(stopped) << "the stop sent from the report reached the line";
        if (neighbour) {
            ASSERT_TRUE(other.WaitFor(1));
            EXPECT_EQ(other.Reports()[0].message, 0x8405u);
        }
        EXPECT_EQ(closing.reports.Count(), 1u);
    }
}

namespace {

// The far end as a UART at 9600 baud, 8N1: a frame is taken no sooner than
// its bytes could have crossed the line after the one before (waiting for the
// line's rate is what is emulated here, not a wait for the library). Each
// frame is kept with the time it came.
class CPacedLine {
public:
    explicit CPacedLine(CSerialPeer& peer) : m_thread([this, &peer] { Read(peer); }) {}
    ~CPacedLine()
    {
        m_bDone = true;
        m_thread.join();
    }
    // The first frame from index on equal to frame, waiting at most limit.
    std::optional<std::chrono::steady_clock::time_point> WaitFor(const Bytes& frame, std::chrono::seconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        std::optional<std::chrono::steady_clock::time_point> at;
        m_arrived.wait_for(lock, limit, [&] {
            for (const auto& [bytes, when] : m_frames)
                if (bytes == frame) at = when;
            return at.has_value();
        });
        return at;
    }
    std::vector<Bytes> Frames()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Bytes> frames;
        for (const auto& entry : m_frames) frames.push_back(entry.first);
        return frames;
    }

private:
    void Read(CSerialPeer& peer)
    {
        constexpr auto kFrameTime = std::chrono::microseconds(7 * 10 * 1000000 / 9600);
        auto free = std::chrono::steady_clock::now();
        while (!m_bDone) {
            Bytes frame = peer.ReadBytes(7, 50ms);
            if (frame.size() < 7) continue;  // every frame here is pelco-d, 7 bytes
            free = std::max(free, std::chrono::steady_clock::now()) + kFrameTime;
            std::this_thread::sleep_until(free);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_frames.emplace_back(std::move(frame), free);
            m_arrived.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::pair<Bytes, std::chrono::steady_clock::time_point>> m_frames;
    std::atomic<bool> m_bDone{false};
    std::thread m_thread;
};

}  // namespace

// 2,000 moves queued at 9600 baud (15 s of line time), then a stop: the stop
// overtakes them and reaches the far end within a few frames' time; the moves
// that went out before it kept their order, and another camera's presets on
// the same line all went out, in order.
TEST(SerialLine, AStopOvertakesTwoThousandQueuedMoves)
{
    CSerialPeer peer;
    auto mover = SerialCamera(peer.DeviceName(), 1);
    auto other = SerialCamera(peer.DeviceName(), 2);
    ASSERT_TRUE(mover && other);
    CPacedLine line(peer);
    for (int preset = 1; preset <= 20; ++preset) other->PreSet(preset, 1);
    // Four runs of moves, each its own direction (bits 0x02, 0x04, 0x08, 0x10).
    for (int i = 0; i < 2000; ++i) {
        const Command moves[] = {&CKorvane::MoveRight, &CKorvane::MoveLeft, &CKorvane::MoveUp, &CKorvane::MoveDown};
        EXPECT_EQ(((*mover).*moves[i / 500])(), 1);
    }
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_EQ(mover->CameraStop(), 1);
    const auto arrived = line.WaitFor(B({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}), 30s);
    ASSERT_TRUE(arrived);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(*arrived - stopped).count(), 250)
        << "ms: the stop waited behind the moves";

    ASSERT_TRUE(line.WaitFor(B({0xFF, 0x02, 0x00, 0x03, 0x00, 0x14, 0x19}), 10s)) << "the last preset";
    int direction = 0, preset = 0;
    for (const Bytes& frame : line.Frames()) {
        if (frame[1] == 0x02) {
            EXPECT_EQ(frame, PelcoD(2, 0, 3, 0, ++preset));
        } else if (frame[3] != 0x00) {
            EXPECT_GE(frame[3], direction) << "moves out of order";
            direction = frame[3];
        }
    }
    EXPECT_EQ(preset, 20);
}

// A stop from a second thread while the first sends moves and changes speeds
// (ThreadSanitizer checks the rest): the last thing on the line is a stop.
TEST(SerialLine, AStopFromAnotherThreadWhileMovesAreSent)
{
    CSerialPeer peer;
    auto cam = SerialCamera(peer.DeviceName(), 1);
    ASSERT_TRUE(cam);
    std::atomic<bool> done{false};
    std::thread mover([&] {
        for (int i = 0; !done; ++i) {
            cam->SetHorizonSpeed(i % 64);
            cam->MoveLeft();
            cam->ZoomPlus();
        }
    });
    for (int i = 0; i < 300; ++i) EXPECT_EQ(cam->CameraStop(), 1);
    done = true;
    mover.join();
    EXPECT_EQ(cam->CameraStop(), 1);
    std::optional<Bytes> last;
    for (auto frame = peer.NextFrame(3s); frame; frame = peer.NextFrame(300ms)) last = frame;
    EXPECT_EQ(last, B({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
}

// A host that loads the library at run time and uses a camera of every mode
// against the simulated peers:
//   unload_host <library> cycle <n>   load, use, close, fail a set-up, unload; n times
//   unload_host <library> exit-open   use, then exit with every camera open
//   unload_host <library> exit-closed use, close, exit at once
//   unload_host <library> exit-in-report  exit while a report function waits
//                                          for a lock that the exiting thread holds
// Exits 0 when all went well; the driver (run.sh) bounds each run in time.
#include "sim/OnvifCamera.h"
#include "sim/RelayPeer.h"
#include "sim/SerialPeer.h"
#include "sim/TrackingPeer.h"
#include "tests/unload/Library.h"

#include <boost/asio/ip/udp.hpp>

#include <korvane/korvane_c.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace korvane::sim;
using korvane::test::CLibrary;

namespace {

// What a report thread may still be waiting on while exit() runs the
// destructors is never destroyed (a host's destroyed lock would fault that
// thread, and the library would be blamed for it).
template <typename T>
struct CNeverDestroyed {
    CNeverDestroyed() : object() {}
    ~CNeverDestroyed() {}
    union {
        T object;
    };
};

CNeverDestroyed<std::mutex> g_mutex;
CNeverDestroyed<std::condition_variable> g_report;
int g_nReports = 0;
std::atomic<bool> g_bHoldReports{false};
CNeverDestroyed<std::mutex> g_hostLock;  // the host's own lock

void KORVANE_CALL OnReport(const unsigned char*, int32_t, uint32_t, void*)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex.object);
        ++g_nReports;
        g_report.object.notify_all();
    }
    if (g_bHoldReports) std::lock_guard<std::mutex> wait(g_hostLock.object);
}

template <typename Send>
bool ReportArrives(Send send)
{
    std::unique_lock<std::mutex> lock(g_mutex.object);
    const int before = g_nReports;
    lock.unlock();
    send();
    lock.lock();
    return g_report.object.wait_for(lock, 3s, [&] { return g_nReports > before; });
}

// The library's C functions, looked up by name.
struct Api {
#define KORVANE_FN(name) decltype(&::name) name = reinterpret_cast<decltype(&::name)>(library.Symbol(#name))
    explicit Api(const CLibrary& library) : library(library) {}
    const CLibrary& library;
    KORVANE_FN(korvane_camera_new);
    KORVANE_FN(korvane_camera_free);
    KORVANE_FN(korvane_set_device_address);
    KORVANE_FN(korvane_set_comm_device);
    KORVANE_FN(korvane_set_device_type);
    KORVANE_FN(korvane_set_socket_param);
    KORVANE_FN(korvane_set_system_type);
    KORVANE_FN(korvane_set_system_param);
    KORVANE_FN(korvane_set_recv_notify);
    KORVANE_FN(korvane_open);
    KORVANE_FN(korvane_close);
    KORVANE_FN(korvane_move_up);
    KORVANE_FN(korvane_stop);
#undef KORVANE_FN
    bool Complete() const
    {
        return korvane_camera_new && korvane_camera_free && korvane_set_device_address && korvane_set_comm_device &&
               korvane_set_device_type && korvane_set_socket_param && korvane_set_system_type &&
               korvane_set_system_param && korvane_set_recv_notify && korvane_open && korvane_close &&
               korvane_move_up && korvane_stop;
    }
};

struct Peers {
    CSerialPeer serial;
    CTrackingPeer tracking;
    CRelayPeer relay;
    COnvifCamera onvif;
};

// Opens a camera of every mode, moves and stops each, and has each mode that
// reports deliver one report on the library's thread. Empty on failure.
std::vector<korvane_camera*> OpenAll(const Api& api, Peers& peers, std::string& failure)
{
    std::vector<korvane_camera*> cameras;
    auto fail = [&](const char* what) {
        failure = what;
        return cameras;
    };
    // Every camera at address 1, kept for the caller to close.
    const auto add = [&](int32_t mode) {
        korvane_camera* cam = api.korvane_camera_new(mode);
        cameras.push_back(cam);
        api.korvane_set_device_address(cam, 1);
        return cam;
    };
    korvane_camera* serial = add(KORVANE_MODE_SERIAL);
    api.korvane_set_recv_notify(serial, OnReport, nullptr);
    if (!api.korvane_set_comm_device(serial, peers.serial.DeviceName().c_str(), 9600, 8, KORVANE_PELCO_D) ||
        !api.korvane_open(serial) || !api.korvane_move_up(serial) || !peers.serial.NextFrame(3s))
        return fail("serial camera");
    if (!ReportArrives([&] { peers.serial.SendReturnCode(1, 0x50); })) return fail("serial report");

    korvane_camera* tracking = add(KORVANE_MODE_TRACKSYSTEM);
    api.korvane_set_system_type(tracking, KORVANE_TRACKSYSTEM_TYPE_1);
    api.korvane_set_system_param(tracking, KORVANE_PELCO_D, "127.0.0.1", peers.tracking.Port());
    api.korvane_set_recv_notify(tracking, OnReport, nullptr);
    if (!api.korvane_open(tracking) || !api.korvane_move_up(tracking) || !peers.tracking.NextDatagram(3s))
        return fail("tracking camera");
    if (!ReportArrives([&] { peers.tracking.SendReport(1, 1); })) return fail("tracking report");

    korvane_camera* relayed = add(KORVANE_MODE_NETWORK);
    api.korvane_set_device_type(relayed, KORVANE_DEVICE_RELAY_4);
    api.korvane_set_socket_param(relayed, KORVANE_PELCO_D, "192.168.1.64", 80, 9600, "admin", "secret", "1");
    api.korvane_set_recv_notify(relayed, OnReport, nullptr);
    if (!api.korvane_open(relayed)) return fail("relayed camera");
    const auto open = peers.relay.NextOfKind(1, 3s);
    if (!open) return fail("relay open request");
    const std::uint16_t eventPort = CRelayPeer::EventPortOf(open->bytes);
    if (!ReportArrives([&] { CRelayPeer::SendEvent(eventPort, "APPEARS"); })) return fail("relay event");

    korvane_camera* onvif = api.korvane_camera_new(KORVANE_MODE_NETWORK);
    cameras.push_back(onvif);
    api.korvane_set_device_type(onvif, KORVANE_DEVICE_ONVIF);
    api.korvane_set_socket_param(onvif, KORVANE_PELCO_D, "127.0.0.1", peers.onvif.Port(), 0, "admin", "secret",
                                 nullptr);
    if (!api.korvane_open(onvif) || !api.korvane_move_up(onvif) || !peers.onvif.NextOf("ContinuousMove", 3s))
        return fail("onvif camera");
    for (korvane_camera* camera : cameras) api.korvane_stop(camera);
    return cameras;
}

// Cameras whose set-up fails, closed and freed: a serial camera on a device
// that does not exist, a tracking camera whose local port another program
// holds. True when both failed as they should.
bool FailedSetUps(const Api& api)
{
#ifdef _WIN32
    const char* const device = "COM239";
#else
    const char* const device = "/dev/korvane-no-such-line";
#endif
    korvane_camera* serial = api.korvane_camera_new(KORVANE_MODE_SERIAL);
    api.korvane_set_device_address(serial, 1);
    const int32_t set = api.korvane_set_comm_device(serial, device, 9600, 8, KORVANE_PELCO_D);
    api.korvane_close(serial);
    api.korvane_camera_free(serial);

    boost::asio::io_context io;
    boost::asio::ip::udp::socket holder(io, boost::asio::ip::udp::v4());
    boost::system::error_code error;
    holder.bind({boost::asio::ip::udp::v4(), 10000}, error);
    if (error) return false;
    korvane_camera* tracking = api.korvane_camera_new(KORVANE_MODE_TRACKSYSTEM);
    api.korvane_set_device_address(tracking, 1);
    api.korvane_set_system_type(tracking, KORVANE_TRACKSYSTEM_TYPE_1);
    api.korvane_set_system_param(tracking, KORVANE_PELCO_D, "127.0.0.1", 9);
    const int32_t opened = api.korvane_open(tracking);
    api.korvane_close(tracking);
    api.korvane_camera_free(tracking);
    return set == 0 && opened == 0;
}

void CloseAll(const Api& api, const std::vector<korvane_camera*>& cameras)
{
    for (korvane_camera* camera : cameras) {
        api.korvane_close(camera);
        api.korvane_camera_free(camera);
    }
}

int Fail(const std::string& why)
{
    std::fprintf(stderr, "unload_host: %s\n", why.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return Fail("usage: unload_host <library> cycle <n> | exit-open | exit-closed | exit-in-report");
    const std::string path = argv[1], mode = argv[2];
    const int cycles = mode == "cycle" && argc > 3 ? std::atoi(argv[3]) : 1;
    Peers peers;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        CLibrary library(path);
        if (!library.Loaded()) return Fail(library.Error());
        const Api api(library);
        if (!api.Complete()) return Fail("a C function is missing");
        std::string failure;
        const std::vector<korvane_camera*> cameras = OpenAll(api, peers, failure);
        if (!failure.empty()) return Fail("cycle " + std::to_string(cycle) + ": " + failure);
        if (mode == "exit-open") std::exit(0);  // the library is left loaded, its cameras open
        if (mode == "exit-in-report") {
            g_hostLock.object.lock();
            g_bHoldReports = true;
            if (!ReportArrives([&] { peers.serial.SendReturnCode(1, 0x50); })) return Fail("held report");
            std::exit(0);  // the report function is still waiting
        }
        CloseAll(api, cameras);
        if (mode == "exit-closed") std::exit(0);
        // Last, so that no later close can end what it may leave running.
        if (!FailedSetUps(api)) return Fail("a camera whose device or port cannot be had was set up");
    }
    // Closed cameras leave nothing behind that keeps the library loaded.
    if (CLibrary::IsLoaded(path)) return Fail("the library stayed loaded after its last unload");
    std::printf("%d cycles\n", cycles);
    return 0;
}

// An example host: drives a serial camera whose line is a pseudo-terminal with
// the simulated camera and tracking system at the far end, and prints what the
// host called, what reached the line, and which reports came back.
#include "sim/SerialPeer.h"

#include <korvane/Korvane.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

using namespace std::chrono_literals;
using korvane::sim::CSerialPeer;

namespace {

struct Host {
    std::mutex mutex;
    std::condition_variable changed;
    int reports = 0;
};

void OnReport(const unsigned char* data, int length, unsigned int message, void* context)
{
    auto* host = static_cast<Host*>(context);
    std::printf("  report  0x%04x  ", message);
    for (int i = 0; i < length; ++i) std::printf("%02x ", data[i]);
    std::printf("\n");
    std::lock_guard<std::mutex> lock(host->mutex);
    ++host->reports;
    host->changed.notify_all();
}

void ShowLine(CSerialPeer& peer, const char* call)
{
    std::printf("%-22s", call);
    bool any = false;
    while (auto frame = peer.NextFrame(any ? 50ms : 1000ms)) {
        std::printf("%s%-26s %s\n", any ? "                      " : "",
                    korvane::sim::HexBytes(*frame).c_str(), korvane::sim::DescribeFrame(*frame).c_str());
        any = true;
    }
    if (!any) std::printf("(nothing on the line)\n");
}

void QuietMessageBox(const char*, const char* text, void*) { std::printf("  message box: %s\n", text); }

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("usage: example_host\n"
                    "Drives one Pelco-D camera at address 1 on a pseudo-terminal with a simulated\n"
                    "camera and tracking system, and prints each call, the frames on the line and\n"
                    "the reports that come back.\n");
        return 0;
    }
    KorvaneSetMessageHandler(&QuietMessageBox, nullptr);
    CSerialPeer peer;
    Host host;
    std::printf("serial line: %s (simulated camera at the far end)\n\n", peer.DeviceName().c_str());
    std::printf("%-22s%-26s %s\n", "host call", "on the line", "decoded");

    CKorvane camera(MODE_SERIAL);
    camera.SetDeviceAddress(1);
    camera.SetHorizonSpeed(30);
    camera.SetVertcalSpeed(20);
    MYDCB dcb{9600, 8, PROTOCOL_PELCO_D};
    if (!camera.SetCommDevice(peer.DeviceName().c_str(), dcb)) {
        std::fprintf(stderr, "cannot open %s\n", peer.DeviceName().c_str());
        return 1;
    }
    camera.SetRecvNotify(&OnReport, &host);
    if (!camera.Open()) {
        std::fprintf(stderr, "Open failed\n");
        return 1;
    }
    ShowLine(peer, "Open()");
    camera.MoveUp();          ShowLine(peer, "MoveUp()");
    camera.MoveTopLeft();     ShowLine(peer, "MoveTopLeft()");
    camera.CameraStop();      ShowLine(peer, "CameraStop()");
    camera.ZoomPlus();        ShowLine(peer, "ZoomPlus()");
    camera.FocusMinus();      ShowLine(peer, "FocusMinus()");
    camera.PreSet(5, 1);      ShowLine(peer, "PreSet(5, set)");
    camera.PreSet(5, 0);      ShowLine(peer, "PreSet(5, go to)");
    camera.OpenTrack();       ShowLine(peer, "OpenTrack()");
    camera.ConnectTest();     ShowLine(peer, "ConnectTest()");

    std::printf("\ntracking system reports on the line:\n");
    peer.SendReturnCode(1, 0x50);  // target appears
    peer.SendReturnCode(1, 0x55);  // up onto the podium
    peer.SendReturnCode(1, 0x51);  // target disappears
    {
        std::unique_lock<std::mutex> lock(host.mutex);
        host.changed.wait_for(lock, 5s, [&] { return host.reports >= 3; });
    }
    camera.CloseTrack();      ShowLine(peer, "CloseTrack()");
    camera.Close();
    std::printf("\nsummary: serial  %d of 3 reports came back\n", host.reports);
    return host.reports == 3 ? 0 : 1;
}

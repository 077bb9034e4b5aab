// ONVIF set-up: a camera's SetSocketParam + Open over HTTPS (pinned
// certificate) against the same over HTTP, on the same simulated camera;
// and how long discovery takes to its first answer. Discovery needs
// multicast on loopback: run the benchmark in a network namespace of its own
// (see README); elsewhere the figure says why it is missing.
#include "Sections.h"
#include "Measure.h"
#include "discovery/Discovery.h"
#include "sim/OnvifCamera.h"

#include <korvane/Korvane.h>

#include <cstdlib>

namespace korvane::bench {

namespace {

constexpr int kOpens = 40;
constexpr int kProbes = 20;

double MedianOpenMillis(const std::string& address, std::uint16_t port, const std::string& pin)
{
    Samples samples;
    for (int i = 0; i < kOpens; ++i) {
        const auto start = Clock::now();
        CKorvane camera(MODE_NETWORK);
        camera.SetDeviceType(DEVICE_ONVIF);
        camera.SetTlsFingerprint(pin.c_str());
        camera.SetSocketParam(PROTOCOL_PELCO_D, address.c_str(), port, 0, "admin", "secret", "");
        if (!camera.Open()) throw std::runtime_error("the ONVIF camera did not open at " + address);
        samples.micros.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        camera.Close();
    }
    return samples.Median();
}

}  // namespace

void OnvifSetUp(CReport& report)
{
    report.Section("7. ONVIF set-up: HTTPS against HTTP, discovery");
    for (const bool tls : {false, true}) {
        sim::OnvifCameraOptions options;
        options.tls = tls;
        sim::COnvifCamera camera(options);
        if (!tls) {
            const double median = MedianOpenMillis("127.0.0.1", camera.Port(), "");
            // As the camera counted them.
            const std::string requests = std::to_string(camera.HttpRequestCount() / kOpens);
            report.Add(Figure{"set-up + Open over HTTP", median, 0, "ms", "", true,
                              "one connection, " + requests + " requests"});
            continue;
        }
        sim::COnvifCamera plain;
        const double http = MedianOpenMillis("127.0.0.1", plain.Port(), "");
        report.Add(Figure{"set-up + Open over HTTPS (pinned)",
                          MedianOpenMillis("https://127.0.0.1:" + std::to_string(camera.Port()), 0, camera.TlsFingerprint()), http, "ms",
                          "", true, "baseline: HTTP, same camera kind; one TLS handshake"});
    }

    const char* inNamespace = std::getenv("KORVANE_NETNS");
    if (!inNamespace || std::string(inNamespace) != "1") {
        report.Add(Figure{"discovery, time to first answer", 0, 0, "ms", "", true,
                          "not measured: run under tests/in_netns.sh (multicast stays in its namespace)"});
        return;
    }
    sim::OnvifCameraOptions options;
    options.probeInterface = "127.0.0.1";
    sim::COnvifCamera camera(options);
    Samples samples;
    for (int i = 0; i < kProbes; ++i) {
        discovery::DiscoveryOptions probe;
        probe.interfaceAddress = "127.0.0.1";
        probe.timeout = std::chrono::seconds(2);
        probe.enough = 1;
        std::string error;
        const auto start = Clock::now();
        if (discovery::Discover(probe, error).empty()) throw std::runtime_error("no camera answered: " + error);
        samples.micros.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    report.Add(Figure{"discovery, time to first answer", samples.Median(), 0, "ms", "", true,
                      "median of " + std::to_string(kProbes) + " probes, simulated camera on loopback"});
}

}  // namespace korvane::bench

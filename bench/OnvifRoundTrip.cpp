// ONVIF: ContinuousMove + Stop against the simulated camera, against the same
// two requests posted raw with libcurl on a kept-alive connection.
#include "Cameras.h"
#include "Sections.h"
#include "sim/OnvifCamera.h"

#include <curl/curl.h>

namespace korvane::bench {

namespace {

constexpr int kPairs = 300;

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

}  // namespace

void OnvifRoundTrip(CReport& report)
{
    report.Section("6. ONVIF round trip (ContinuousMove + Stop)");
    sim::COnvifCamera camera;
    auto host = OpenOnvifCamera(camera.Port());
    if (!host) throw std::runtime_error("ONVIF camera for the round trip");
    while (camera.NextRequest(std::chrono::milliseconds(100))) {
    }
    Samples library;
    for (int i = 0; i < kPairs; ++i) {
        const auto start = Clock::now();
        host->MoveLeft();
        host->CameraStop();
        library.micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    // The same bytes the library sent, posted raw.
    const auto move = camera.NextOf("ContinuousMove", std::chrono::seconds(2));
    const auto stop = camera.NextOf("Stop", std::chrono::seconds(2));
    if (!move || !stop) throw std::runtime_error("the ONVIF camera saw no move");
    const std::string url = "http://127.0.0.1:" + std::to_string(camera.Port()) + "/onvif/ptz_service";
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/soap+xml; charset=utf-8");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
    Samples raw;
    for (int i = 0; i < kPairs; ++i) {
        const auto start = Clock::now();
        for (const std::string* body : {&move->body, &stop->body}) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->c_str());
            curl_easy_perform(curl);
        }
        raw.micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    report.Add(Figure{"move + stop median", library.Median(), raw.Median(), "us", "", true, ""});
    report.Add(Figure{"move + stop p99", library.P99(), raw.P99(), "us", "", true, ""});
}

}  // namespace korvane::bench

// Finding ONVIF cameras with WS-Discovery: real multicast on the loopback of
// a network namespace the test runs in (tests/in_netns.sh), so no probe
// leaves it. Outside one these tests skip.
#include "ToolProcess.h"
#include "sim/OnvifCamera.h"

#include <korvane/Korvane.h>

#include <gtest/gtest.h>

#include <boost/asio/ip/udp.hpp>

#include <cstdlib>
#include <fstream>
#include <set>

using korvane::sim::COnvifCamera;
using korvane::sim::OnvifCameraOptions;

namespace {

bool InNamespace()
{
    const char* flag = std::getenv("KORVANE_NETNS");
    return flag && std::string(flag) == "1";
}

std::string WhyNoNamespace()
{
    const char* why = std::getenv("KORVANE_NETNS_SKIP");
    return why ? why : "not run in a network namespace of its own (tests/in_netns.sh makes one)";
}

OnvifCameraOptions Discoverable(const std::string& scopes = "")
{
    OnvifCameraOptions options;
    options.probeInterface = "127.0.0.1";
    options.scopes = scopes;
    return options;
}

}  // namespace

TEST(Discovery, EveryCameraThatAnswersIsFoundOnceThroughEachInterface)
{
    if (!InNamespace()) GTEST_SKIP() << WhyNoNamespace();
    COnvifCamera first(Discoverable());
    COnvifCamera second(Discoverable("onvif://www.onvif.org/name/Board onvif://www.onvif.org/hardware/X1"));
    COnvifCamera silent;  // answers no probe
    CKorvaneDiscovery finder;
    ASSERT_EQ(finder.Run(1000, "127.0.0.1"), 2) << finder.Error();
    EXPECT_STREQ(finder.Error(), "");
    std::set<std::string> found;
    for (int i = 0; i < finder.Count(); ++i)
        found.insert(std::string(finder.Name(i)) + "|" + finder.Hardware(i) + "|" + finder.Host(i) + ":" +
                     std::to_string(finder.Port(i)) + "|" + (finder.Ptz(i) ? "ptz" : "-"));
    const std::set<std::string> expected = {
        "Korvane sim|SimPTZ-1|127.0.0.1:" + std::to_string(first.Port()) + "|ptz",
        "Board|X1|127.0.0.1:" + std::to_string(second.Port()) + "|-"};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(first.ProbesAnswered(), 1u);  // answered at once: the probe is not repeated
    EXPECT_STREQ(finder.Name(5), "");
    EXPECT_EQ(finder.Port(-1), 0);

    // The C interface, and an interface address this machine does not have.
    korvane_discovery* c = korvane_discover(300, "127.0.0.1");
    EXPECT_EQ(korvane_discovery_count(c), 2);
    EXPECT_EQ(std::string(korvane_discovery_address(c, 0)).rfind("http://127.0.0.1:", 0), 0u);
    korvane_discovery_free(c);
    EXPECT_EQ(finder.Run(300, "192.0.2.1"), 0);
    EXPECT_NE(std::string(finder.Error()), "");
}

// A client that probes from a socket with no address of its own: on this
// namespace's loopback its probe carries source 0.0.0.0 (127.0.0.1 is the
// host's, not the link's), as third-party clients' probes do. The answer
// goes back to it all the same.
TEST(Discovery, AProbeWithoutASourceAddressIsAnswered)
{
    if (!InNamespace()) GTEST_SKIP() << WhyNoNamespace();
    using boost::asio::ip::udp;
    COnvifCamera camera(Discoverable());
    boost::asio::io_context io;
    udp::socket client(io, udp::v4());
    const std::string probe =
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
        "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><s:Header><a:MessageID>urn:uuid:probe-0"
        "</a:MessageID><a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action></s:Header>"
        "<s:Body><d:Probe/></s:Body></s:Envelope>";
    client.send_to(boost::asio::buffer(probe), udp::endpoint(boost::asio::ip::make_address("239.255.255.250"), 3702));
    std::string answer(65536, '\0');
    udp::endpoint from;
    client.async_receive_from(boost::asio::buffer(answer), from,
                              [&](boost::system::error_code error, std::size_t length) { answer.resize(error ? 0 : length); });
    io.run_for(std::chrono::seconds(3));
    EXPECT_NE(answer.find("urn:uuid:probe-0"), std::string::npos) << "no answer";
    EXPECT_NE(answer.find(":" + std::to_string(camera.Port()) + "/onvif/device_service"), std::string::npos);
}

#ifndef _WIN32
TEST(Discovery, TheToolListsAndAddsCamerasToTheFileOnce)
{
    if (!InNamespace()) GTEST_SKIP() << WhyNoNamespace();
    COnvifCamera camera(Discoverable());
    const std::string file = testing::TempDir() + "discovered.json";
    {
        std::ofstream out(file);
        out << R"({"cameras": [{"name": "korvane-sim", "mode": "serial", "device": "/dev/null"}]})";
    }
    const std::vector<std::string> discover = {"discover", "--timeout", "600ms", "--interface",
                                               "127.0.0.1", "--json", "--write", file};
    const auto first = korvane::test::RunTool(discover);
    EXPECT_EQ(first.exit, 0) << first.output;
    EXPECT_NE(first.output.find("\"port\": " + std::to_string(camera.Port())), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("1 camera(s) added"), std::string::npos);
    EXPECT_NE(korvane::test::RunTool(discover).output.find("0 camera(s) added"), std::string::npos);
    // The added camera is named apart from the one there, has no password, and drives.
    const auto status = korvane::test::RunTool(
        {"--cameras", file, "--camera", "korvane-sim-2", "status"});
    EXPECT_EQ(status.exit, 1) << status.output;  // no credentials in the file: refused by the camera
    EXPECT_NE(status.output.find("did not open"), std::string::npos) << status.output;
    const auto badInterface = korvane::test::RunTool({"discover", "--interface", "eth0"});
    EXPECT_EQ(badInterface.exit, 2);
}
#endif

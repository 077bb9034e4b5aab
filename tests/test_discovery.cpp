// Finding ONVIF cameras with WS-Discovery: real multicast on the loopback of
// a network namespace the test runs in (tests/in_netns.sh), so no probe
// leaves it. Outside one these tests skip.
#include "ToolProcess.h"
#include "sim/OnvifCamera.h"
#include "sim/ProbeResponder.h"

#include <korvane/Korvane.h>

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

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

// Answers each probe heard on the loopback's group with the datagrams that
// answer(probe, n) makes for the n-th probe (from 0): cameras no simulated
// camera would be, hostile ones, floods.
class CAnswers {
public:
    using Make = std::function<std::vector<std::string>(const std::string& probe, std::size_t n)>;
    explicit CAnswers(Make make) : m_make(std::move(make)), m_socket(m_io)
    {
        using boost::asio::ip::udp;
        const auto group = boost::asio::ip::make_address_v4("239.255.255.250");
        m_socket.open(udp::v4());
        m_socket.set_option(udp::socket::reuse_address(true));
        m_socket.bind(udp::endpoint(group, 3702));
        m_socket.set_option(boost::asio::ip::multicast::join_group(group, boost::asio::ip::make_address_v4("127.0.0.1")));
        Receive();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~CAnswers()
    {
        m_io.stop();
        m_thread.join();
    }

private:
    void Receive()
    {
        m_socket.async_receive_from(boost::asio::buffer(m_buffer), m_from, [this](boost::system::error_code error, std::size_t length) {
            if (error) return;
            const std::string probe(m_buffer.data(), length);
            if (probe.find("Probe</") != std::string::npos)
                for (const std::string& datagram : m_make(probe, m_nProbes++))
                    m_socket.send_to(boost::asio::buffer(datagram), m_from, 0, error);
            Receive();
        });
    }

    Make m_make;
    boost::asio::io_context m_io;
    boost::asio::ip::udp::socket m_socket;
    std::array<char, 65536> m_buffer{};
    boost::asio::ip::udp::endpoint m_from;
    std::size_t m_nProbes = 0;
    std::thread m_thread;
};

// One camera's answer to the probe.
std::string Answer(const std::string& probe, const std::string& xaddr, const std::string& scopes = "")
{
    return korvane::sim::CProbeResponder::Answer(probe, "", xaddr, scopes);
}

// The answer with count matches, from 10.<first + i>.
std::string ManyMatches(const std::string& probe, std::size_t first, std::size_t count)
{
    const std::string one = Answer(probe, "http://10.0.0.1/");
    const std::size_t begin = one.find("<disc:ProbeMatch>"), end = one.find("</disc:ProbeMatches>");
    std::string matches;
    for (std::size_t i = first; i < first + count; ++i)
        matches += "<disc:ProbeMatch><disc:XAddrs>http://10." + std::to_string(i / 65536) + "." +
                   std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + "/</disc:XAddrs></disc:ProbeMatch>";
    return one.substr(0, begin) + matches + one.substr(end);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
// Texts from an answer reach no terminal raw and never break --json; an
// answer the camera file cannot hold (a host name) is left out, the others
// added once, named apart from the cameras there, an HTTPS camera in the form
// the file's own check takes.
TEST(Discovery, HostileAnswersAreCleanedAndNeverBlockTheOthers)
{
    if (!InNamespace()) GTEST_SKIP() << WhyNoNamespace();
    OnvifCameraOptions secureOptions = Discoverable();
    secureOptions.tls = true;
    COnvifCamera plain(Discoverable()), secure(secureOptions);
    CAnswers hostile([](const std::string& probe, std::size_t) {
        return std::vector<std::string>{
            Answer(probe, "http://\x1b]0;pwned\x07/onvif"),
            Answer(probe, "http://cam.local:8080/onvif",
                   "onvif://www.onvif.org/name/Evil%C2%9B2J%FF%1B%5B2Jcam")};
    });
    const std::string file = testing::TempDir() + "hostile.json";
    std::ofstream(file) << R"({"cameras": [{"name": "korvane-sim", "mode": "serial", "device": "/dev/null"}]})";
    const std::vector<std::string> discover = {"discover", "--timeout", "600ms", "--interface", "127.0.0.1"};
    const auto json = korvane::test::RunTool({"discover", "--timeout", "600ms", "--interface", "127.0.0.1", "--json"});
    ASSERT_EQ(json.exit, 0) << json.output;
    const auto cameras = nlohmann::json::parse(json.output)["cameras"];
    ASSERT_EQ(cameras.size(), 3u) << json.output;  // the escape sequence in a host is no address
    std::vector<std::string> written = discover;
    written.insert(written.end(), {"--write", file});
    const auto listed = korvane::test::RunTool(written);
    EXPECT_EQ(listed.exit, 0) << listed.output;
    for (const auto& output : {json.output, listed.output, ReadFile(file)}) {
        EXPECT_EQ(output.find('\x1b'), std::string::npos) << output;
        EXPECT_EQ(output.find("\xc2\x9b"), std::string::npos) << output;
    }
    EXPECT_NE(listed.output.find("Evil2J\xef\xbf\xbd[2Jcam"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("left out cam.local:8080"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("2 camera(s) added"), std::string::npos) << listed.output;
    written.push_back("--json");  // and once more, listed as JSON: nothing new to add
    const auto again = korvane::test::RunTool(written);
    EXPECT_NE(again.output.find("0 camera(s) added"), std::string::npos) << again.output;
    EXPECT_NE(again.output.find("\"port\": " + std::to_string(plain.Port())), std::string::npos) << again.output;
    // What was written is a camera file the tool reads: both cameras open as
    // far as asking for credentials (the file holds none).
    std::set<std::string> hosts, names;
    const auto fileCameras = nlohmann::json::parse(ReadFile(file))["cameras"];
    for (const auto& camera : fileCameras) {
        names.insert(camera["name"].get<std::string>());
        if (camera["mode"] == "serial") continue;
        const auto status = korvane::test::RunTool({"--cameras", file, "--camera", camera["name"], "status"});
        EXPECT_EQ(status.exit, 1) << camera.dump() << status.output;
        EXPECT_NE(status.output.find("did not open"), std::string::npos) << status.output;
        hosts.insert(camera["host"].get<std::string>() + (camera.contains("port") ? ":" + camera["port"].dump() : ""));
    }
    EXPECT_EQ(names, (std::set<std::string>{"korvane-sim", "korvane-sim-2", "korvane-sim-3"}));
    EXPECT_EQ(hosts, (std::set<std::string>{"127.0.0.1:" + std::to_string(plain.Port()),
                                            "https://127.0.0.1:" + std::to_string(secure.Port())}));
    EXPECT_EQ(korvane::test::RunTool({"discover", "--interface", "eth0"}).exit, 2);
}

// The listing says how soon the first camera answered, not how long it
// waited; a flood of answers stops at 1000 cameras, with a note.
TEST(Discovery, TheFirstAnswerIsTimedAndAFloodIsCapped)
{
    if (!InNamespace()) GTEST_SKIP() << WhyNoNamespace();
    CAnswers flood([](const std::string& probe, std::size_t) {
        return std::vector<std::string>{ManyMatches(probe, 0, 600), ManyMatches(probe, 600, 600)};
    });
    CKorvaneDiscovery finder;
    EXPECT_EQ(finder.Run(1000, "127.0.0.1"), 1000);
    EXPECT_LT(finder.AnsweredAfter(0), 0.5);
    const auto listed = korvane::test::RunTool({"discover", "--timeout", "2s", "--interface", "127.0.0.1"});
    EXPECT_EQ(listed.exit, 0);
    std::smatch first;
    ASSERT_TRUE(std::regex_search(listed.output, first, std::regex(R"(1000 ONVIF camera\(s\) answered, the first after ([0-9.]+) ms)")))
        << listed.output.substr(0, 400);
    EXPECT_LT(std::stod(first[1]), 1000.0);
    EXPECT_NE(listed.output.find("the search stopped at 1000 cameras"), std::string::npos);
}

// discover --write replaces the camera file whole, under a lock: writers at
// once each add their camera, and a full disk leaves the old file.
TEST(Discovery, TheCameraFileIsWrittenWholeOrNotAtAll)
{
    if (!InNamespace()) GTEST_SKIP() << WhyNoNamespace();
    CAnswers cameras([](const std::string& probe, std::size_t n) {
        return std::vector<std::string>{Answer(probe, "http://10.0.1." + std::to_string(n + 1) + "/onvif")};
    });
    const std::string folder = testing::TempDir() + "korvane-whole";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string file = folder + "/cameras.json";
    {
        std::vector<std::unique_ptr<korvane::test::CToolProcess>> writers;
        for (int i = 0; i < 6; ++i)
            writers.push_back(std::make_unique<korvane::test::CToolProcess>(std::vector<std::string>{
                "discover", "--timeout", "300ms", "--interface", "127.0.0.1", "--write", file}));
        for (auto& writer : writers) EXPECT_EQ(writer->WaitExit(), 0) << writer->Output();
    }
    EXPECT_EQ(nlohmann::json::parse(ReadFile(file))["cameras"].size(), 6u) << ReadFile(file);

    if (std::system("unshare -m true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no mount namespace ('unshare -m' needs root): the full-disk case is not run";
    const std::string old = R"({"cameras": [{"name": "podium", "mode": "serial", "device": "/dev/ttyUSB0"}]})";
    const std::string full = folder + "/full";
    std::filesystem::create_directories(full);
    const std::string script =
        "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 9; printf '%s' \"$2\" > \"$1/cameras.json\"; "
        "dd if=/dev/zero of=\"$1/fill\" bs=4k 2>/dev/null; \"$3\" discover --timeout 300ms --interface 127.0.0.1 "
        "--write \"$1/cameras.json\"; echo \"exit=$?\"; cat \"$1/cameras.json\"; echo; ls \"$1\"";
    const std::string out = folder + "/out.txt";
    const std::string command = "unshare -m sh -c '" + script + "' sh '" + full + "' '" + old + "' '" +
                                KORVANE_TOOL_PATH + "' >'" + out + "' 2>&1";
    std::system(command.c_str());
    const std::string result = ReadFile(out);
    EXPECT_NE(result.find("cannot write " + full + "/cameras.json"), std::string::npos) << result;
    EXPECT_NE(result.find("exit=1\n" + old + "\ncameras.json\ncameras.json.lock\nfill\n"), std::string::npos) << result;
}
#endif

// The return-code log: log/log.txt beside libKorvanu.so (Korvanu.dll), only while that
// folder exists. Runs alone (the log folder is shared by the whole build).
#include "SerialTestSupport.h"
#include "sim/ModulePath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using korvane::sim::CSerialPeer;
using korvane::test::ReportCollector;
using korvane::test::SerialCamera;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

fs::path LibraryFolder()
{
    const std::string library = korvane::sim::ModulePathOf(reinterpret_cast<const void*>(&KorvaneSetMessageHandler));
    return fs::canonical(fs::u8path(library)).parent_path();
}

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Drives two reports for camera 42 through a real line.
void TwoReports()
{
    CSerialPeer peer;
    ReportCollector reports;
    auto cam = SerialCamera(peer.DeviceName(), 42, &reports);
    ASSERT_TRUE(cam);
    ASSERT_EQ(cam->Open(), 1);
    peer.SendReturnCode(42, 0x50);
    peer.SendReturnCode(42, 0x57);
    ASSERT_TRUE(reports.WaitFor(2));
    cam->Close();  // the log line follows each callback: Close waits for both
}

}  // namespace

// Without the folder nothing is written or created; with it, each report's
// line is appended to what is there.
TEST(LogFile, LinesAreAppendedOnlyWhenTheFolderExists)
{
    const fs::path folder = LibraryFolder() / "log";
    fs::remove_all(folder);
    TwoReports();
    EXPECT_FALSE(fs::exists(folder));
    fs::create_directory(folder);
    std::ofstream(folder / "log.txt", std::ios::binary) << "earlier line\r\n";
    TwoReports();
    const std::string text = ReadAll(folder / "log.txt");
    fs::remove_all(folder);

    EXPECT_EQ(text.rfind("earlier line\r\n", 0), 0u) << "existing content is kept";
    const std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ([a-z ]+return codes:)((?:[0-9a-f]{2} )*)\r\n)");
    std::vector<std::pair<std::string, std::string>> mine;
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
        if ((*it)[2].str().rfind("ff 42 ", 0) == 0) mine.emplace_back((*it)[1], (*it)[2]);
    EXPECT_EQ(mine, (decltype(mine){{"appears return codes:", "ff 42 00 07 00 50 99 "},
                                    {"write stop return codes:", "ff 42 00 07 00 57 a0 "}}))
        << text;
}

#ifndef _WIN32
namespace {

// A reader for a FIFO that nobody read until now: it opens at once, lets a
// writer blocked in its open go on, and collects what comes until the text
// holds `until` or the time is up.
std::string ReadFifoUntil(const fs::path& fifo, const std::string& until, std::chrono::milliseconds limit)
{
    const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);  // read-write: never waits for a writer
    if (fd < 0) return "cannot open the FIFO";
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (text.find(until) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

}  // namespace

// log/log.txt is a FIFO that nobody reads, so opening it to write blocks:
// reports, commands and the close go on regardless, and once the FIFO gets a
// reader the log says how many lines it could not take.
TEST(LogFile, ALogThatBlocksHoldsNothingUp)
{
    const fs::path folder = LibraryFolder() / "log";
    fs::remove_all(folder);
    fs::create_directory(folder);
    const fs::path fifo = folder / "log.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    constexpr int kReports = 400;  // more than the log keeps queued

    CSerialPeer peer;
    ReportCollector reports;
    auto cam = SerialCamera(peer.DeviceName(), 42, &reports);
    ASSERT_TRUE(cam);
    ASSERT_EQ(cam->Open(), 1);
    for (int i = 0; i < kReports; ++i) ASSERT_TRUE(peer.SendReturnCode(42, i % 2 ? 0x50 : 0x57));
    EXPECT_TRUE(reports.WaitFor(kReports)) << reports.Count() << " reports reached the host";

    cam->MoveUp();
    cam->CameraStop();
    const korvane::sim::Bytes stop{0xFF, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x2A};
    bool stopped = false;
    for (std::optional<korvane::sim::Bytes> frame; !stopped && (frame = peer.NextFrame(2s));) stopped = *frame == stop;
    EXPECT_TRUE(stopped) << "the stop did not reach the line";

    auto closing = std::async(std::launch::async, [&] { cam->Close(); });
    EXPECT_EQ(closing.wait_for(3s), std::future_status::ready) << "Close waits for the log";

    // A reader at last: what was queued comes out, then how much was dropped.
    const std::string text = ReadFifoUntil(fifo, "dropped", 5s);
    closing.wait();
    fs::remove_all(folder);
    TwoReports();  // unblocked now, the writer is joined by the next close
    std::smatch note;
    ASSERT_TRUE(std::regex_search(text, note, std::regex(R"(\] (\d+) log lines dropped)"))) << text;
    const std::regex line("return codes:ff 42 ");
    const auto written = std::distance(std::sregex_iterator(text.begin(), text.end(), line), std::sregex_iterator());
    EXPECT_GT(std::stoi(note[1]), 0);
    EXPECT_EQ(written + std::stoi(note[1]), kReports) << "every line is written or counted as dropped";
}
#endif

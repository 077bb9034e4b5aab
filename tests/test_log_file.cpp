// The return-code log: log/log.txt beside libKorvanu.so (Korvanu.dll), only while that
// folder exists. Runs alone (the log folder is shared by the whole build).
#include "SerialTestSupport.h"
#include "sim/ModulePath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

using korvane::sim::CSerialPeer;
using korvane::test::ReportCollector;
using korvane::test::SerialCamera;
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

TEST(LogFile, LinesAreAppendedWhenTheFolderExists)
{
    const fs::path folder = LibraryFolder() / "log";
    fs::remove_all(folder);
    fs::create_directory(folder);
    {
        std::ofstream earlier(folder / "log.txt", std::ios::binary);
        earlier << "earlier line\r\n";
    }
    TwoReports();
    const std::string text = ReadAll(folder / "log.txt");
    fs::remove_all(folder);

    EXPECT_EQ(text.rfind("earlier line\r\n", 0), 0u) << "existing content is kept";
    const std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ([a-z ]+return codes:)((?:[0-9a-f]{2} )*)\r\n)");
    std::vector<std::pair<std::string, std::string>> mine;
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
        if ((*it)[2].str().rfind("ff 42 ", 0) == 0) mine.emplace_back((*it)[1], (*it)[2]);
    ASSERT_EQ(mine.size(), 2u) << text;
    EXPECT_EQ(mine[0].first, "appears return codes:");
    EXPECT_EQ(mine[0].second, "ff 42 00 07 00 50 99 ");
    EXPECT_EQ(mine[1].first, "write stop return codes:");
    EXPECT_EQ(mine[1].second, "ff 42 00 07 00 57 a0 ");
}

TEST(LogFile, NothingIsWrittenOrCreatedWithoutTheFolder)
{
    const fs::path folder = LibraryFolder() / "log";
    fs::remove_all(folder);
    TwoReports();
    EXPECT_FALSE(fs::exists(folder));
}

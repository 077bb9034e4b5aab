// The panel's QR code as the terminal shows it, read back by a real reader
// (zbarimg): a wrong half block or a module off by one and the reader gets
// nothing, and so does a margin too thin to part the code from a dark terminal.
#include "QrCode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using korvane::tool::panel::QrCodeLines;

TEST(PanelQrCode, AReaderGetsTheAddressBack)
{
    if (std::system("zbarimg --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    const std::string name = "korvane-panel-qr-" + std::to_string(std::random_device{}());
    const std::filesystem::path image = std::filesystem::temp_directory_path() / (name + ".pbm");
    const std::filesystem::path read = std::filesystem::temp_directory_path() / (name + ".txt");
    for (const std::string& url : {std::string("http://192.0.2.10:8421/"), std::string("http://[2001:db8::1]:8421/?token=a%2Bb"),
                                   "http://198.51.100.7:8421/?token=" + std::string(43, 'T')}) {
        const std::vector<std::string> lines = QrCodeLines(url);
        ASSERT_FALSE(lines.empty()) << url;
        // Each character is two rows of modules, light ones drawn: back to a
        // bitmap (1 dark), four pixels a module.
        std::vector<std::string> rows;
        for (const std::string& line : lines) {
            std::string top, bottom;
            for (std::size_t at = 0; at < line.size();) {
                const std::size_t size = line[at] == ' ' ? 1 : 3;
                const std::string cell = line.substr(at, size);
                at += size;
                top += cell == "\u2580" || cell == "\u2588" ? '0' : '1';
                bottom += cell == "\u2584" || cell == "\u2588" ? '0' : '1';
            }
            rows.insert(rows.end(), {top, bottom});
        }
        // Read as a phone sees it on a dark terminal: dark all around, beyond the code's own margin.
        const std::string dark(4, '1');
        for (std::string& row : rows) row = dark + row + dark;
        rows.insert(rows.begin(), 4, std::string(rows[0].size(), '1'));
        rows.insert(rows.end(), 4, std::string(rows[0].size(), '1'));
        std::ofstream pbm(image);
        pbm << "P1\n" << rows[0].size() * 4 << ' ' << rows.size() * 4 << '\n';
        for (const std::string& row : rows)
            for (int copy = 0; copy < 4; ++copy) {
                for (const char module : row) pbm << std::string(4, module) << ' ';
                pbm << '\n';
            }
        pbm.close();
        ASSERT_EQ(std::system(("zbarimg -q --raw " + image.string() + " >" + read.string()).c_str()), 0) << url;
        std::stringstream decoded;
        decoded << std::ifstream(read).rdbuf();
        EXPECT_EQ(decoded.str(), url + "\n");
    }
    std::filesystem::remove(image);
    std::filesystem::remove(read);
}

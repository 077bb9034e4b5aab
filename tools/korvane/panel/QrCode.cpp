#include "QrCode.h"

#include <qrencode.h>

#include <memory>

namespace korvane::tool::panel {

std::vector<std::string> QrCodeLines(const std::string& text)
{
    // Low error correction keeps a URL with its token small enough for a terminal.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_L), &QRcode_free);
    if (!code) return {};
    constexpr int kMargin = 4;  // the quiet zone readers expect
    const int width = code->width, size = width + 2 * kMargin;
    const auto light = [&](int x, int y) {
        x -= kMargin;
        y -= kMargin;
        const bool inside = x >= 0 && y >= 0 && x < width && y < width;
        return !inside || !(code->data[y * width + x] & 1);
    };
    static const char* const kCells[] = {" ", "\u2584", "\u2580", "\u2588"};  // by top and bottom light
    std::vector<std::string> lines;
    for (int y = 0; y < size; y += 2) {
        std::string line;
        for (int x = 0; x < size; ++x) line += kCells[(light(x, y) ? 2 : 0) + (y + 1 >= size || light(x, y + 1) ? 1 : 0)];
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace korvane::tool::panel

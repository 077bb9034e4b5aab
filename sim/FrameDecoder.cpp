#include "sim/FrameDecoder.h"

#include <cstdio>

namespace korvane::sim {

namespace {

std::string Hex2(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
    return text;
}

std::string PelcoMotion(std::uint8_t command2, std::uint8_t pan, std::uint8_t tilt)
{
    std::string text;
    const bool up = command2 & 0x08, down = command2 & 0x10, left = command2 & 0x04, right = command2 & 0x02;
    if (up || down) text += down ? "tilt down" : "tilt up";
    if (left || right) text += std::string(text.empty() ? "" : " + ") + (left ? "pan left" : "pan right");
    if (command2 & 0x20) text += text.empty() ? "zoom tele" : " + zoom tele";
    if (command2 & 0x40) text += text.empty() ? "zoom wide" : " + zoom wide";
    if (command2 & 0x80) text += text.empty() ? "focus far" : " + focus far";
    if (left || right) text += " speed " + std::to_string(pan);
    if (up || down) text += (left || right ? "/" : " speed ") + std::to_string(tilt);
    return text;
}

std::string PelcoPreset(std::uint8_t command2, std::uint8_t preset)
{
    const char* verb = command2 == 0x03 ? "set preset " : command2 == 0x05 ? "clear preset " : "go to preset ";
    return verb + std::to_string(preset);
}

std::string DescribePelcoD(const Bytes& f)
{
    std::string head = "pelco-d addr " + std::to_string(f[1]) + ": ";
    unsigned sum = 0;
    for (int i = 1; i <= 5; ++i) sum += f[i];
    const std::string bad = (sum & 0xFF) == f[6] ? "" : " (bad checksum)";
    const std::uint8_t c1 = f[2], c2 = f[3];
    if (c1 == 0 && (c2 == 0x03 || c2 == 0x05 || c2 == 0x07) && f[4] == 0) return head + PelcoPreset(c2, f[5]) + bad;
    if (c1 == 0 && c2 == 0 && f[4] == 0 && f[5] == 0) return head + "stop" + bad;
    if (c1 == 0x01 && c2 == 0) return head + "focus near" + bad;
    if (c1 == 0x02 && c2 == 0) return head + "iris open" + bad;
    if (c1 == 0x04 && c2 == 0) return head + "iris close" + bad;
    if (c1 == 0) return head + PelcoMotion(c2, f[4], f[5]) + bad;
    return head + "command " + Hex2(c1) + " " + Hex2(c2) + bad;
}

std::string DescribePelcoP(const Bytes& f)
{
    std::string head = "pelco-p addr " + std::to_string(f[1]) + ": ";
    std::uint8_t check = 0;
    for (int i = 0; i <= 6; ++i) check ^= f[i];
    const std::string bad = check == f[7] ? "" : " (bad checksum)";
    const std::uint8_t d1 = f[2], d2 = f[3];
    if (d1 == 0 && (d2 == 0x03 || d2 == 0x05 || d2 == 0x07) && f[4] == 0) return head + PelcoPreset(d2, f[5]) + bad;
    if (d1 == 0 && d2 == 0 && f[4] == 0 && f[5] == 0) return head + "stop" + bad;
    if (d1 == 0x01) return head + "focus far" + bad;
    if (d1 == 0x02) return head + "focus near" + bad;
    if (d1 == 0x04) return head + "iris open" + bad;
    if (d1 == 0x08) return head + "iris close" + bad;
    if (d1 == 0) return head + PelcoMotion(d2, f[4], f[5]) + bad;
    return head + "command " + Hex2(d1) + " " + Hex2(d2) + bad;
}

std::string ViscaDirection(std::uint8_t pan, std::uint8_t tilt)
{
    std::string text;
    if (tilt == 1) text = "up";
    if (tilt == 2) text = "down";
    if (pan == 1) text += text.empty() ? "left" : "-left";
    if (pan == 2) text += text.empty() ? "right" : "-right";
    return text.empty() ? "stop" : text;
}

std::string DescribeVisca(const Bytes& f)
{
    std::string head = "visca addr " + std::to_string(static_cast<std::uint8_t>(f[0] - 0x80)) + ": ";
    if (f.size() == 9 && f[1] == 0x01 && f[2] == 0x06 && f[3] == 0x01) {
        const std::string dir = ViscaDirection(f[6], f[7]);
        if (dir == "stop") return head + "pan-tilt stop";
        return head + "drive " + dir + " pan speed " + std::to_string(f[4]) + " tilt speed " + std::to_string(f[5]);
    }
    if (f.size() == 7 && f[1] == 0x01 && f[2] == 0x04 && f[3] == 0x3F) {
        const char* verb = f[4] == 2 ? "recall memory " : f[4] == 1 ? "set memory " : "reset memory ";
        return head + verb + std::to_string(f[5]);
    }
    if (f.size() == 6 && f[1] == 0x01 && f[2] == 0x04) {
        const std::uint8_t what = f[3], how = f[4];
        if (what == 0x07 && how == 0x00) return head + "zoom stop";
        if (what == 0x07 && how == 0x02) return head + "zoom tele";
        if (what == 0x07 && how == 0x03) return head + "zoom wide";
        if (what == 0x07 && (how & 0xF0) == 0x20) return head + "zoom tele speed " + std::to_string(how & 7);
        if (what == 0x07 && (how & 0xF0) == 0x30) return head + "zoom wide speed " + std::to_string(how & 7);
        if (what == 0x08) return head + (how == 0 ? "focus stop" : how == 2 ? "focus far" : "focus near");
        if (what == 0x38 && how == 0x03) return head + "manual focus";
        if (what == 0x39 && how == 0x0B) return head + "iris priority";
        if (what == 0x0B) return head + (how == 2 ? "iris up" : "iris down");
    }
    return head + HexBytes(f);
}

}  // namespace

std::string HexBytes(const Bytes& bytes)
{
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) text += (i ? " " : "") + Hex2(bytes[i]);
    return text;
}

std::size_t FrameLengthAt(const Bytes& s, std::size_t offset)
{
    if (offset >= s.size()) return 0;
    const std::size_t left = s.size() - offset;
    const std::uint8_t first = s[offset];
    std::size_t want = 0;
    if (first == 0xFF) want = 7;
    else if (first == 0xA0) want = 8;
    else if (first == 0xAE) want = 6;
    else if (first >= 0x80 && first <= 0x8F) {
        for (std::size_t i = offset + 1; i < s.size() && i - offset < 16; ++i)
            if (s[i] == 0xFF) return i - offset + 1;
        return left >= 16 ? 1 : 0;
    } else {
        return 1;
    }
    return left >= want ? want : 0;
}

std::string DescribeFrame(const Bytes& f)
{
    if (f.size() == 7 && f[0] == 0xFF) return DescribePelcoD(f);
    if (f.size() == 8 && f[0] == 0xA0 && f[6] == 0xAF) return DescribePelcoP(f);
    if (f.size() == 6 && f[0] == 0xAE && f[2] == 0x09 && f[5] == 0xFE)
        return "connection test addr " + std::to_string(f[1]);
    if (f.size() == 5 && f[0] == 0xAA && f[1] == 0x40 && f[2] == 0x02)
        return "track addr " + std::to_string(f[3]) + (f[4] == 0 ? ": on" : ": off");
    if (f.size() >= 3 && f[0] >= 0x80 && f[0] <= 0x8F && f.back() == 0xFF) return DescribeVisca(f);
    return "unknown " + HexBytes(f);
}

Bytes ReturnCodeFrame(int cameraAddress, std::uint8_t code)
{
    const std::uint8_t packed = static_cast<std::uint8_t>(((cameraAddress / 10) % 10) << 4 | (cameraAddress % 10));
    Bytes frame{0xFF, packed, 0x00, 0x07, 0x00, code, 0x00};
    unsigned sum = 0;
    for (int i = 1; i <= 5; ++i) sum += frame[i];
    frame[6] = static_cast<std::uint8_t>(sum);
    return frame;
}

}  // namespace korvane::sim

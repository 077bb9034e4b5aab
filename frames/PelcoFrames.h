// Pelco-D (7 bytes, additive checksum) and Pelco-P (8 bytes, XOR checksum)
// builders. Each writes its frame into the caller's record, so the record
// always holds the last frame of its protocol, and returns a copy to send.
#pragma once

#include "frames/Frame.h"

#include <cstdint>

namespace korvane {

struct PELCODCMD {
    std::uint8_t frame[7];
    std::uint32_t length;
};

struct PELCOPCMD {
    std::uint8_t frame[8];
    std::uint32_t length;
};

// Go-to-preset numbers that stand for operations without a command of their own.
constexpr std::uint8_t kTrackOnPreset = 80;
constexpr std::uint8_t kTrackOffPreset = 81;
constexpr std::uint8_t kAutoZoomOnPreset = 220;
constexpr std::uint8_t kAutoZoomOffPreset = 221;
constexpr std::uint8_t kAutoWriteOnPreset = 120;
constexpr std::uint8_t kAutoWriteOffPreset = 121;
constexpr std::uint8_t kOpenPresets[2] = {88, 100};

// Pelco-D command 2 bits.
constexpr std::uint8_t kPelcoRight = 0x02;
constexpr std::uint8_t kPelcoLeft = 0x04;
constexpr std::uint8_t kPelcoUp = 0x08;
constexpr std::uint8_t kPelcoDown = 0x10;
constexpr std::uint8_t kPelcoZoomTele = 0x20;
constexpr std::uint8_t kPelcoZoomWide = 0x40;
constexpr std::uint8_t kPelcoSpeedFixed = 0x1E;

Frame PelcoDCommand(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command1,
                    std::uint8_t command2, std::uint8_t data1, std::uint8_t data2);
// selector 0 set, 1 clear, 2 go to; any other selector sets.
Frame PelcoDPreset(PELCODCMD& cmd, std::uint8_t address, std::uint8_t selector,
                   std::uint8_t preset);
Frame PelcoDIris(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command1);
Frame PelcoDZoom(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command2);
Frame PelcoDTilt(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command2, std::int32_t speed);
Frame PelcoDPan(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command2, std::int32_t speed);
Frame PelcoDDiagonal(PELCODCMD& cmd, std::uint8_t address, std::uint8_t panBit,
                     std::int32_t panSpeed, std::uint8_t tiltBit, std::int32_t tiltSpeed);
Frame PelcoDStop(PELCODCMD& cmd, std::uint8_t address);
Frame PelcoDCallPreset(PELCODCMD& cmd, std::uint8_t address, std::uint8_t preset);

Frame PelcoPCommand(PELCOPCMD& cmd, std::uint8_t address, std::uint8_t data1, std::uint8_t data2,
                    std::uint8_t data3, std::uint8_t data4);

// AE address 09 00 00 FE. The record of the current protocol takes the length
// 6 and keeps its old frame bytes.
Frame ConnectTestFrame(std::uint32_t& recordLength, std::uint8_t address);

}  // namespace korvane

#include "frames/PelcoFrames.h"

namespace korvane {

namespace {

constexpr std::uint8_t kPelcoDSync = 0xFF;
constexpr std::uint8_t kPelcoPStart = 0xA0;
constexpr std::uint8_t kPelcoPEnd = 0xAF;

}  // namespace

Frame PelcoDCommand(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command1,
                    std::uint8_t command2, std::uint8_t data1, std::uint8_t data2)
{
    cmd.frame[0] = kPelcoDSync;
    cmd.frame[1] = address;
    cmd.frame[2] = command1;
    cmd.frame[3] = command2;
    cmd.frame[4] = data1;
    cmd.frame[5] = data2;
    unsigned sum = 0;
    for (int i = 1; i <= 5; ++i) sum += cmd.frame[i];
    cmd.frame[6] = static_cast<std::uint8_t>(sum & 0xFFu);
    cmd.length = sizeof cmd.frame;
    return Frame(cmd.frame, cmd.frame + cmd.length);
}

Frame PelcoDPreset(PELCODCMD& cmd, std::uint8_t address, std::uint8_t selector,
                   std::uint8_t preset)
{
    std::uint8_t command2 = 0x03;
    if (selector == 1) command2 = 0x05;
    if (selector == 2) command2 = 0x07;
    return PelcoDCommand(cmd, address, 0x00, command2, 0x00, preset);
}

Frame PelcoDIris(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command1)
{
    return PelcoDCommand(cmd, address, command1, 0x00, 0x00, 0x00);
}

Frame PelcoDZoom(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command2)
{
    return PelcoDCommand(cmd, address, 0x00, command2, 0x00, 0x00);
}

Frame PelcoDTilt(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command2, std::int32_t speed)
{
    return PelcoDCommand(cmd, address, 0x00, command2, kPelcoSpeedFixed, CapSpeed(speed));
}

Frame PelcoDPan(PELCODCMD& cmd, std::uint8_t address, std::uint8_t command2, std::int32_t speed)
{
    return PelcoDCommand(cmd, address, 0x00, command2, CapSpeed(speed), kPelcoSpeedFixed);
}

Frame PelcoDDiagonal(PELCODCMD& cmd, std::uint8_t address, std::uint8_t panBit,
                     std::int32_t panSpeed, std::uint8_t tiltBit, std::int32_t tiltSpeed)
{
    return PelcoDCommand(cmd, address, 0x00, static_cast<std::uint8_t>(panBit + tiltBit),
                         LowByte(static_cast<std::uint32_t>(panSpeed)),
                         LowByte(static_cast<std::uint32_t>(tiltSpeed)));
}

Frame PelcoDStop(PELCODCMD& cmd, std::uint8_t address)
{
    return PelcoDCommand(cmd, address, 0x00, 0x00, 0x00, 0x00);
}

Frame PelcoDCallPreset(PELCODCMD& cmd, std::uint8_t address, std::uint8_t preset)
{
    return PelcoDCommand(cmd, address, 0x00, 0x07, 0x00, preset);
}

Frame PelcoPCommand(PELCOPCMD& cmd, std::uint8_t address, std::uint8_t data1, std::uint8_t data2,
                    std::uint8_t data3, std::uint8_t data4)
{
    cmd.frame[0] = kPelcoPStart;
    cmd.frame[1] = address;
    cmd.frame[2] = data1;
    cmd.frame[3] = data2;
    cmd.frame[4] = data3;
    cmd.frame[5] = data4;
    cmd.frame[6] = kPelcoPEnd;
    std::uint8_t check = 0;
    for (int i = 0; i <= 6; ++i) check ^= cmd.frame[i];
    cmd.frame[7] = check;
    cmd.length = sizeof cmd.frame;
    return Frame(cmd.frame, cmd.frame + cmd.length);
}

Frame ConnectTestFrame(std::uint32_t& recordLength, std::uint8_t address)
{
    recordLength = 6;
    return Frame{0xAE, address, 0x09, 0x00, 0x00, 0xFE};
}

}  // namespace korvane

#include "report/ReturnCodes.h"

namespace korvane {

const ReturnCode* FindBySerialCode(std::uint8_t code)
{
    for (const ReturnCode& row : kReturnCodes)
        if (row.serialCode == code) return &row;
    return nullptr;
}

const ReturnCode* FindByMessage(std::uint32_t message)
{
    for (const ReturnCode& row : kReturnCodes)
        if (row.message == message) return &row;
    return nullptr;
}

int SerialReportAddress(std::uint8_t packedDecimal)
{
    const int high = packedDecimal >> 4;
    const int low = packedDecimal & 0x0F;
    if (high > 9) return 0;
    if (low > 9) return high;
    return high * 10 + low;
}

int TrackReportAddress(std::uint8_t packedDecimal)
{
    return packedDecimal >= 0x80 ? 0 : SerialReportAddress(packedDecimal);
}

}  // namespace korvane

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

}  // namespace korvane

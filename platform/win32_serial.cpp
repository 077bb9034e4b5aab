// Windows opens serial devices without sharing: a device held elsewhere fails
// to open with access denied, which is the busy case.
#include "platform/Platform.h"

#include <windows.h>

namespace korvane::platform {

std::string SerialDevicePath(const std::string& name)
{
    if (name.rfind("\\", 0) == 0 || name.empty()) return name;
    return "\\\\.\\" + name;
}

boost::system::error_code LockSerialDevice(boost::asio::serial_port&) { return {}; }

void UnlockSerialDevice(boost::asio::serial_port&) {}

void PurgeSerialDevice(boost::asio::serial_port& port)
{
    ::PurgeComm(port.native_handle(), PURGE_TXCLEAR | PURGE_RXCLEAR);
}

std::size_t SerialOutputQueued(boost::asio::serial_port& port)
{
    COMSTAT status{};
    DWORD errors = 0;
    if (!::ClearCommError(port.native_handle(), &errors, &status)) return 0;
    return status.cbOutQue;
}

bool IsDeviceBusy(const boost::system::error_code& error)
{
    return error.value() == ERROR_ACCESS_DENIED;
}

std::string SerialOpenCause(const boost::system::error_code& error)
{
    switch (error.value()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "no such device";
    case ERROR_ACCESS_DENIED: return "busy: another program has it open";
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED: return "not a serial device";
    default: return ErrorText(error);
    }
}

}  // namespace korvane::platform

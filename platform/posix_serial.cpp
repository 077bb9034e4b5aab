// Exclusive use of a serial device: an advisory lock that other processes
// respect, plus TIOCEXCL so that a plain open() by a non-root program fails.
// TIOCEXCL belongs to the terminal, not to the open file: it stays after the
// close (until the adapter is unplugged) unless cleared.
#include "platform/Platform.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

namespace korvane::platform {

std::string SerialDevicePath(const std::string& name) { return name; }

boost::system::error_code LockSerialDevice(boost::asio::serial_port& port)
{
    const int fd = port.native_handle();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return {errno == EWOULDBLOCK ? EBUSY : errno, boost::system::system_category()};
    ::ioctl(fd, TIOCEXCL);  // best effort: pseudo-terminals may refuse it
    return {};
}

void UnlockSerialDevice(boost::asio::serial_port& port)
{
    if (port.is_open()) ::ioctl(port.native_handle(), TIOCNXCL);  // the lock goes with the close
}

void PurgeSerialDevice(boost::asio::serial_port& port)
{
    ::tcflush(port.native_handle(), TCIOFLUSH);
}

std::size_t SerialOutputQueued(boost::asio::serial_port& port)
{
    int queued = 0;
    if (::ioctl(port.native_handle(), TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
    return static_cast<std::size_t>(queued);
}

bool IsDeviceBusy(const boost::system::error_code& error)
{
    return error == boost::system::errc::device_or_resource_busy;
}

std::string SerialOpenCause(const boost::system::error_code& error)
{
    if (error.category() == boost::system::system_category() || error.category() == boost::system::generic_category()) {
        switch (error.value()) {
        case ENOENT:
        case ENODEV:
        case ENXIO: return "no such device";
        case EACCES:
        case EPERM: return "permission denied (a serial line is usually for the dialout group: join it, then log in again)";
        case EBUSY: return "busy: another program has it open";
        case ENOTTY: return "not a serial device";
        case EINVAL: return "the line cannot be set to that speed or data size";
        default: break;
        }
    }
    return ErrorText(error);
}

}  // namespace korvane::platform

// The few things that differ between Windows and POSIX. Everything else in the
// library is platform-free (Boost.Asio covers sockets and serial ports).
#pragma once

#include <boost/asio/ip/udp.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstddef>
#include <ctime>
#include <string>

namespace korvane::platform {

// The library's one kind of window: a modal box titled "提示" (information
// icon, OK). Goes to the host's handler when one is installed.
void ShowMessageBox(const std::string& textUtf8);
using MessageHandler = void (*)(const char* title, const char* text, void* ctx);
void SetMessageHandler(MessageHandler handler, void* ctx);

// The system's text for an error code (success has one too); never empty.
std::string ErrorText(const boost::system::error_code& error);

// Debugger output (OutputDebugString); on POSIX standard error, only while
// KORVANE_DEBUG is set.
void DebugOutput(const std::string& line);

// Full path of the file that holds the library's code when it is the module
// named Korvanu, else of the process's executable. Empty when unknown.
std::string LogBaseModulePath();
bool IsDirectory(const std::string& path);
char PathSeparator();
std::tm LocalTime(std::time_t when);

// What to open for the device the host named: on Windows "COM12" becomes
// "\\.\COM12" (plain names reach only COM1 to COM9).
std::string SerialDevicePath(const std::string& name);

// Serial devices: take the opened device for this process alone (another
// process opening it reads as busy), and throw away what both queues hold.
boost::system::error_code LockSerialDevice(boost::asio::serial_port& port);
// Gives the device back as it was found, before it is closed: the exclusive
// mode would otherwise outlive this process and keep other programs out.
void UnlockSerialDevice(boost::asio::serial_port& port);
void PurgeSerialDevice(boost::asio::serial_port& port);
// Bytes written and still in the driver's output queue (0 when it cannot
// tell: a pseudo-terminal passes them on at once).
std::size_t SerialOutputQueued(boost::asio::serial_port& port);
// The open failed because someone else holds the device (worth a retry).
bool IsDeviceBusy(const boost::system::error_code& error);
// Why a serial device could not be opened and set up, in the user's terms
// ("no such device", "permission denied ...", "busy ...", "not a serial
// device"), from the error the system gave; the system's text otherwise.
std::string SerialOpenCause(const boost::system::error_code& error);

// The library's own module. While any of its threads runs, the library holds
// one load of itself (HoldModule, given back by ReleaseModule once the thread
// has been joined), so that a host's unload never pulls code from under a
// thread or a report. False when no hold could be taken.
bool HoldModule();
void ReleaseModule();
// The process is ending (Windows: the library is detached by ExitProcess;
// other threads are gone, maybe in the middle of their work). Nothing may
// wait then. POSIX cannot tell: false.
bool ProcessExiting();

// Waits until a datagram can be read from the socket, at most limit. False on
// time-out or failure; error is set only when the wait itself failed.
bool WaitReadable(boost::asio::ip::udp::socket& socket, std::chrono::milliseconds limit,
                  boost::system::error_code& error);
// The error the system keeps for a connected socket (a datagram refused:
// nobody listens at the other end), taken and cleared; none when all is well,
// and always none on Windows, which tells a refusal to the next send.
boost::system::error_code TakeSocketError(boost::asio::ip::udp::socket& socket);

}  // namespace korvane::platform

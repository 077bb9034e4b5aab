// The library's one I/O thread, shared by everything that reads or writes a
// device or socket in the background: serial lines, the tracking service,
// the relay event listener (and whatever comes next, VISCA over IP).
//
// Use-counted: the first Acquire() starts the thread, the last Release() lets
// it end and, on a host thread, joins it, gives back the library's hold and
// lets the log writer finish, so that an unload (FreeLibrary, dlclose) finds
// nothing to wait for. Released on the thread itself (a report function
// closing its camera), the thread ends once its queued work has run and the
// next host-thread Release or Acquire settles the rest (CIoThread).
#pragma once

#include "io/IoThread.h"

#include <memory>
#include <mutex>

namespace korvane {

class CIoService {
public:
    static std::shared_ptr<CIoService> Instance();

    CIoService();
    ~CIoService();
    CIoService(const CIoService&) = delete;
    CIoService& operator=(const CIoService&) = delete;

    const std::shared_ptr<CIoThread>& Thread() const { return m_pThread; }
    boost::asio::io_context& Context() { return m_pThread->Context(); }

    // One use: keeps the thread running (starting it if needed). False, and
    // no use taken, when the thread cannot run.
    bool Acquire();
    // Ends one use. The last waits (bounded) for the thread to end, unless
    // called on it; a use taken meanwhile ends that wait.
    void Release();

    int Users() const;
    // No use is left and the thread has ended.
    bool Idle() const { return !m_pThread->IsRunning(); }

private:
    const std::shared_ptr<CIoThread> m_pThread;
    mutable std::mutex m_mutex;
    int m_nUsers = 0;
};

}  // namespace korvane

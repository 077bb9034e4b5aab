// An io_context with a thread of its own. The library's shared I/O service
// (io/IoService.h) runs one for the serial lines, the tracking service and
// the relay event listener: every read, write and close of their devices and
// sockets runs on it, so their state is touched by one thread only.
//
// Start() keeps the thread running until Release() or Stop(). After
// Release() it ends by itself once the work still queued has run; a later
// Start() brings it back. Stop() is for good (library unload).
//
// While the thread runs, the library holds a load of itself: a host that
// unloads it then leaves it loaded rather than pulling code from under the
// thread. WaitReleased() joins the ended thread and gives the hold back, so
// after the last camera's Close there is nothing left to join at unload.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <atomic>
#include <chrono>
#include <map>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace korvane {

class CIoThread {
public:
    CIoThread();
    ~CIoThread();
    CIoThread(const CIoThread&) = delete;
    CIoThread& operator=(const CIoThread&) = delete;

    boost::asio::io_context& Context() { return m_io; }

    // Keeps the thread running (starting it if needed); false if it cannot
    // be created or the thread was stopped for good.
    bool Start();
    // Lets the thread end once nothing is queued. Does not wait.
    void Release();
    // Waits (bounded) until a released thread has ended, then joins it and
    // gives back the library's hold; at once when called on the thread itself
    // (the thread ends later, the hold stays until the next WaitReleased) or
    // when a Start() has come back meanwhile.
    void WaitReleased();
    // Ends the thread for good: joined, or detached when called on the
    // thread itself. Keeps any hold on the library (it runs at unload or exit).
    void Stop();
    bool InThread() const { return std::this_thread::get_id() == m_threadId.load(); }
    bool IsRunning() const { return m_bRunning.load(); }

    // Runs work on the I/O thread and waits for it, or runs it right here when
    // this is the I/O thread or there is none. The caller goes on once the work
    // and everything it captured are gone; the wait is bounded: work still
    // queued when it ends runs later.
    void RunOnThread(std::function<void()> work);

    // Runs work on the I/O thread once the time has come (a line has drained).
    // No Asio timer: on Windows those run a thread of their own, which an
    // unload would have to join; the loop waits with run_one_until instead.
    // A pending deadline keeps the thread running; Stop drops it unrun.
    void At(std::chrono::steady_clock::time_point when, std::function<void()> work);

private:
    void Run();
    // Runs the deadlines that are due; the earliest left, if any.
    std::optional<std::chrono::steady_clock::time_point> RunDueDeadlines();

    boost::asio::io_context m_io;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> m_work;
    std::mutex m_mutex;  // start, release and stop
    std::condition_variable m_ended;
    bool m_bStopped = false;
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
    std::atomic<bool> m_bRunning{false};
    bool m_bHoldsModule = false;

    std::mutex m_deadlineMutex;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> m_deadlines;
    // Keeps run_one_until waiting (not returning at once) while deadlines wait.
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> m_deadlineWork;
};

}  // namespace korvane

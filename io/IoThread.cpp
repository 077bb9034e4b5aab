#include "io/IoThread.h"

#include "platform/Platform.h"

#include <boost/asio/post.hpp>

#include <chrono>
#include <future>
#include <system_error>

namespace korvane {

namespace {
constexpr auto kRunOnThreadLimit = std::chrono::seconds(5);
constexpr auto kReleaseLimit = std::chrono::seconds(5);
}  // namespace

CIoThread::CIoThread() = default;

CIoThread::~CIoThread() { Stop(); }

bool CIoThread::Start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bStopped) return false;
    if (!m_work) m_work.emplace(boost::asio::make_work_guard(m_io));
    if (m_bRunning) return true;  // running, or about to see the new work guard
    if (m_thread.joinable()) m_thread.join();  // an earlier thread that has ended
    m_io.restart();
    if (!m_bHoldsModule) m_bHoldsModule = platform::HoldModule();
    m_bRunning = true;
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        m_bRunning = false;
        m_work.reset();
        return false;
    }
    return true;
}

void CIoThread::Run()
{
    m_threadId = std::this_thread::get_id();
    for (;;) {
        try {
            for (;;) {
                const auto next = RunDueDeadlines();
                const std::size_t ran = next ? m_io.run_one_until(*next) : m_io.run_one();
                if (ran == 0 && m_io.stopped()) break;
            }
        } catch (...) {
            continue;  // a failing handler must not end receiving for everyone
        }
        // run() returned: stopped for good, or out of work after Release().
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStopped || !m_work) {
            m_bRunning = false;
            m_threadId = std::thread::id();
            m_ended.notify_all();
            return;
        }
        m_io.restart();  // a Start() came back before this thread ended
    }
}

void CIoThread::At(std::chrono::steady_clock::time_point when, std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> lock(m_deadlineMutex);
        m_deadlines.emplace(when, std::move(work));
        if (!m_deadlineWork) m_deadlineWork.emplace(boost::asio::make_work_guard(m_io));
    }
    // Wakes a loop waiting for a later time, or for work.
    if (!InThread()) boost::asio::post(m_io, [] {});
}

std::optional<std::chrono::steady_clock::time_point> CIoThread::RunDueDeadlines()
{
    for (;;) {
        std::function<void()> due;
        {
            std::lock_guard<std::mutex> lock(m_deadlineMutex);
            if (m_deadlines.empty()) {
                m_deadlineWork.reset();
                return std::nullopt;
            }
            const auto first = m_deadlines.begin();
            if (first->first > std::chrono::steady_clock::now()) return first->first;
            due = std::move(first->second);
            m_deadlines.erase(first);
        }
        due();
    }
}

void CIoThread::Release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_work.reset();
}

void CIoThread::WaitReleased()
{
    std::thread ended;
    bool holdsModule = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (InThread()) return;
        m_ended.wait_for(lock, kReleaseLimit, [this] { return !m_bRunning || m_work.has_value(); });
        if (m_bRunning || m_work) return;  // still busy, or started again: the hold stays
        ended = std::move(m_thread);
        std::swap(holdsModule, m_bHoldsModule);
    }
    if (ended.joinable()) ended.join();  // it has left Run(); only its exit is left
    // The host's own load keeps the library loaded past this.
    if (holdsModule) platform::ReleaseModule();
}

void CIoThread::Stop()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopped = true;
        m_work.reset();
        m_io.stop();
        thread = std::move(m_thread);
    }
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_deadlineMutex);
        dropped.swap(m_deadlines);
        m_deadlineWork.reset();
    }
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
        return;
    }
    thread.join();
    // Completions already queued (aborted reads of closed ports) release
    // what they hold; nothing new can start now.
    m_io.restart();
    m_io.poll();
}

void CIoThread::RunOnThread(std::function<void()> work)
{
    if (!m_bRunning || InThread()) {
        work();
        return;
    }
    // Set when the handler is destroyed: after the work has run and released
    // what it captured (or when it is dropped unrun).
    struct Finished {
        std::promise<void> done;
        ~Finished() { done.set_value(); }
    };
    auto finished = std::make_shared<Finished>();
    std::future<void> over = finished->done.get_future();
    boost::asio::post(m_io, [work = std::move(work), finished = std::move(finished)]() mutable {
        work();
        work = nullptr;
    });
    over.wait_for(kRunOnThreadLimit);
}

}  // namespace korvane

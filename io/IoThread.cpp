#include "io/IoThread.h"

#include <boost/asio/post.hpp>

#include <chrono>
#include <future>
#include <system_error>

namespace korvane {

namespace {
constexpr auto kRunOnThreadLimit = std::chrono::seconds(5);
}

CIoThread::CIoThread() : m_work(boost::asio::make_work_guard(m_io)) {}

CIoThread::~CIoThread() { Stop(); }

bool CIoThread::Start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread.joinable()) return true;
    if (!m_work) return false;  // stopped for good
    m_bRunning = true;
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        m_bRunning = false;
        return false;
    }
    return true;
}

void CIoThread::Run()
{
    m_threadId = std::this_thread::get_id();
    while (m_bRunning) {
        try {
            m_io.run();
            break;  // only stop() ends run() while the work guard is held
        } catch (...) {
            // A failing handler must not end serial receiving for everyone.
        }
    }
}

void CIoThread::Stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_work.reset();
    m_bRunning = false;
    m_io.stop();
    if (!m_thread.joinable()) return;
    if (InThread()) {
        m_thread.detach();
        return;
    }
    m_thread.join();
    m_threadId = std::thread::id();
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
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    boost::asio::post(m_io, [work = std::move(work), done] {
        work();
        done->set_value();
    });
    finished.wait_for(kRunOnThreadLimit);
}

}  // namespace korvane

// Collects reports from a camera's notify function, for tests: waits on the
// reports themselves, with a bound, never on the clock.
#pragma once

#include <korvane/Korvane.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane::test {

struct Report {
    std::vector<std::uint8_t> bytes;
    unsigned int message;
    void* context;
    std::thread::id thread;
};

class ReportCollector {
public:
    static void Notify(const unsigned char* data, int length, unsigned int message, void* context)
    {
        auto* self = static_cast<ReportCollector*>(context);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_reports.push_back(Report{std::vector<std::uint8_t>(data, data + (length > 0 ? length : 0)),
                                         message, context, std::this_thread::get_id()});
        self->m_changed.notify_all();
    }

    void Attach(CKorvane& camera) { camera.SetRecvNotify(&ReportCollector::Notify, this); }

    bool WaitFor(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_reports.size() >= count; });
    }

    std::vector<Report> Reports()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reports;
    }

    std::size_t Count() { return Reports().size(); }

    // The reports' message codes, in order.
    std::vector<unsigned int> Messages()
    {
        std::vector<unsigned int> messages;
        for (const Report& report : Reports()) messages.push_back(report.message);
        return messages;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Report> m_reports;
};

// Collects message boxes instead of showing them.
class MessageBoxes {
public:
    MessageBoxes() { KorvaneSetMessageHandler(&MessageBoxes::Show, this); }
    ~MessageBoxes() { KorvaneSetMessageHandler(nullptr, nullptr); }

    std::vector<std::pair<std::string, std::string>> Shown()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_shown;
    }

private:
    static void Show(const char* title, const char* text, void* ctx)
    {
        auto* self = static_cast<MessageBoxes*>(ctx);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_shown.emplace_back(title, text);
    }

    std::mutex m_mutex;
    std::vector<std::pair<std::string, std::string>> m_shown;
};

}  // namespace korvane::test

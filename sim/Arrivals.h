// What a simulated peer has received and the test (or tool) has not looked at
// yet: filled by the peer's thread, taken with a bounded wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace korvane::sim {

template <typename T>
class CArrivals {
public:
    void Push(T item)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_items.push_back(std::move(item));
        }
        m_arrived.notify_all();
    }

    std::optional<T> Next(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_arrived.wait_for(lock, timeout, [this] { return !m_items.empty(); })) return std::nullopt;
        T next = std::move(m_items.front());
        m_items.pop_front();
        return next;
    }

    // Skips items until one matches, all within the time.
    template <typename Match>
    std::optional<T> NextMatching(Match match, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            auto next = Next(left);
            if (!next) return std::nullopt;
            if (match(*next)) return next;
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<T> m_items;
};

}  // namespace korvane::sim

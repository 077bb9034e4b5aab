// Dispatch of the message box to the host's handler or the platform default.
#include "platform/Platform.h"

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <set>
#include <thread>

namespace korvane::platform {

void ShowSystemMessageBox(const char* title, const std::string& textUtf8);  // per platform

namespace {

constexpr const char* kTitle = "提示";

// The handler and the calls of it in progress. A setter waits until no call
// of an earlier handler runs, except calls on its own thread (a handler that
// sets the handler) and on threads that are themselves setting it (two such
// handlers would otherwise wait for each other).
struct Call {
    std::thread::id thread;
    std::uint64_t generation;
};

std::mutex g_handlerMutex;
std::condition_variable g_callEnded;
MessageHandler g_handler = nullptr;
void* g_handlerContext = nullptr;
std::uint64_t g_generation = 0;
std::list<Call> g_calls;
std::multiset<std::thread::id> g_setters;

bool EarlierCallsRunning(std::uint64_t generation)
{
    const auto self = std::this_thread::get_id();
    for (const Call& call : g_calls)
        if (call.generation < generation && call.thread != self && !g_setters.count(call.thread)) return true;
    return false;
}

}  // namespace

void SetMessageHandler(MessageHandler handler, void* ctx)
{
    std::unique_lock<std::mutex> lock(g_handlerMutex);
    g_handler = handler;
    g_handlerContext = handler ? ctx : nullptr;
    const std::uint64_t generation = ++g_generation;
    const auto setter = g_setters.insert(std::this_thread::get_id());
    g_callEnded.notify_all();  // a setter waiting for this thread's call need not any more
    g_callEnded.wait(lock, [generation] { return !EarlierCallsRunning(generation); });
    g_setters.erase(setter);
}

void ShowMessageBox(const std::string& textUtf8)
{
    std::unique_lock<std::mutex> lock(g_handlerMutex);
    const MessageHandler handler = g_handler;
    void* const ctx = g_handlerContext;
    if (!handler) {
        lock.unlock();
        ShowSystemMessageBox(kTitle, textUtf8);
        return;
    }
    const auto call = g_calls.insert(g_calls.end(), Call{std::this_thread::get_id(), g_generation});
    // The box is modal: call the host without holding the lock.
    lock.unlock();
    struct Ended {
        std::list<Call>::iterator call;
        ~Ended()
        {
            std::lock_guard<std::mutex> relock(g_handlerMutex);
            g_calls.erase(call);
            g_callEnded.notify_all();
        }
    } ended{call};
    handler(kTitle, textUtf8.c_str(), ctx);
}

std::string ErrorText(const boost::system::error_code& error)
{
    std::string text = error.message();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.empty()) text = "Unknown error " + std::to_string(error.value());
    return text;
}

}  // namespace korvane::platform

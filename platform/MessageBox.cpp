// Dispatch of the message box to the host's handler or the platform default.
#include "platform/Platform.h"

#include <mutex>

namespace korvane::platform {

void ShowSystemMessageBox(const char* title, const std::string& textUtf8);  // per platform

namespace {

std::mutex g_handlerMutex;
MessageHandler g_handler = nullptr;
void* g_handlerContext = nullptr;

constexpr const char* kTitle = "提示";

}  // namespace

void SetMessageHandler(MessageHandler handler, void* ctx)
{
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_handler = handler;
    g_handlerContext = handler ? ctx : nullptr;
}

void ShowMessageBox(const std::string& textUtf8)
{
    MessageHandler handler;
    void* ctx;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_handler;
        ctx = g_handlerContext;
    }
    // The box is modal: call the host without holding the lock.
    if (handler)
        handler(kTitle, textUtf8.c_str(), ctx);
    else
        ShowSystemMessageBox(kTitle, textUtf8);
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

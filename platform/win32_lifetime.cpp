// Windows: the library's load count, and process exit seen from DllMain.
#include "platform/Platform.h"

#include <windows.h>

#include <atomic>

namespace korvane::platform {

namespace {
std::atomic<bool> g_bProcessExiting{false};
}  // namespace

bool HoldModule()
{
    HMODULE module = nullptr;
    return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&HoldModule)), &module) != 0;
}

void ReleaseModule()
{
    HMODULE module = nullptr;
    if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&HoldModule)), &module))
        ::FreeLibrary(module);
}

bool ProcessExiting() { return g_bProcessExiting.load(); }

}  // namespace korvane::platform

// Runs before the C++ runtime destroys the library's statics. A detach with
// lpReserved set is ExitProcess: every other thread has been ended already.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) korvane::platform::g_bProcessExiting = true;
    return TRUE;
}

#include "tests/unload/Library.h"

#include <windows.h>

namespace korvane::test {

CLibrary::CLibrary(const std::string& path) : m_pHandle(reinterpret_cast<void*>(::LoadLibraryA(path.c_str())))
{
    if (!m_pHandle) m_strError = "LoadLibrary failed: error " + std::to_string(::GetLastError());
}

CLibrary::~CLibrary()
{
    if (m_pHandle) ::FreeLibrary(reinterpret_cast<HMODULE>(m_pHandle));
}

void* CLibrary::Symbol(const char* name) const
{
    return m_pHandle ? reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(m_pHandle), name)) : nullptr;
}

bool CLibrary::IsLoaded(const std::string& path) { return ::GetModuleHandleA(path.c_str()) != nullptr; }

}  // namespace korvane::test

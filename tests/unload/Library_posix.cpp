#include "tests/unload/Library.h"

#include <dlfcn.h>

namespace korvane::test {

CLibrary::CLibrary(const std::string& path) : m_pHandle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
{
    if (!m_pHandle) m_strError = ::dlerror();
}

CLibrary::~CLibrary()
{
    if (m_pHandle) ::dlclose(m_pHandle);
}

void* CLibrary::Symbol(const char* name) const { return m_pHandle ? ::dlsym(m_pHandle, name) : nullptr; }

bool CLibrary::IsLoaded(const std::string& path)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) ::dlclose(handle);
    return handle != nullptr;
}

}  // namespace korvane::test

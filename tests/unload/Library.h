// The library loaded at run time, as a host that plugs it in does: loaded,
// its functions looked up by name, unloaded.
#pragma once

#include <string>

namespace korvane::test {

class CLibrary {
public:
    explicit CLibrary(const std::string& path);
    ~CLibrary();  // unloads
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;

    bool Loaded() const { return m_pHandle != nullptr; }
    // Why loading failed (empty when it did not).
    const std::string& Error() const { return m_strError; }
    void* Symbol(const char* name) const;
    // Whether a library of that file name is loaded in this process now.
    static bool IsLoaded(const std::string& path);

private:
    void* m_pHandle = nullptr;
    std::string m_strError;
};

}  // namespace korvane::test

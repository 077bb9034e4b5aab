// Whether the Windows program runs under wine, whose emulation of a few
// system corners differs from Windows (the tests that meet one say so).
#pragma once

namespace korvane::platform {

#if defined(_WIN32)
bool UnderWine();  // ntdll exports wine_get_version only under wine
#else
inline bool UnderWine() { return false; }
#endif

}  // namespace korvane::platform

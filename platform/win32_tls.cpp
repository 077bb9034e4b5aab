// The Windows build's libcurl speaks HTTP only: an HTTPS camera fails with a
// message saying so, never by falling back to plain HTTP.
#include "platform/Tls.h"


namespace korvane::platform {

bool ConfigureTls(void*, TlsPin&, std::string& error)
{
    error = "HTTPS is not available in this build";
    return false;
}

}  // namespace korvane::platform

// TLS for the ONVIF client's libcurl handle: what differs between the TLS
// back-ends libcurl is built with (OpenSSL on POSIX; none on Windows yet).
#pragma once

#include <string>

namespace korvane::platform {

// What one handle's TLS connections learn, for a clear failure message.
struct TlsPin {
    std::string fingerprint;  // normalised; empty: verify against the system store
    std::string seen;         // the last certificate shown, when it was not the pinned one
};

// Sets up HTTPS on a libcurl handle: the camera's certificate verified
// against the system's store and name, or, with a pin, accepted exactly when
// it is the pinned certificate (then neither its issuer, its name nor its
// dates are checked: the pin names that one certificate). pin must outlive
// the handle's transfers. A handle once pinned keeps no certificate store:
// unpinning takes a fresh handle. False, with error saying why, when this
// build cannot speak HTTPS.
bool ConfigureTls(void* curl, TlsPin& pin, std::string& error);

}  // namespace korvane::platform

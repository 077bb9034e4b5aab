// The simulated ONVIF camera's HTTPS: a key and a self-signed certificate for
// 127.0.0.1 made at start, as a camera makes its own (POSIX, OpenSSL).
#pragma once

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <string>

namespace korvane::sim {

// A server context with a fresh P-256 key and certificate; expired: its
// dates lie in the past. fingerprint: the certificate's SHA-256, hex.
// Throws std::runtime_error when OpenSSL fails.
std::unique_ptr<boost::asio::ssl::context> MakeSelfSignedContext(bool expired, std::string& fingerprint);

}  // namespace korvane::sim

// What every request the ONVIF client sends must be, checked from the
// outside: a well-formed SOAP 1.2 envelope whose body holds the one element
// the action names, signed (when there is a user) with a UsernameToken whose
// digest is right.
#pragma once

#include <string>

namespace korvane::fuzz {

// Text that an XML document can carry unchanged: no control characters other
// than tab and line feed, and no zero.
bool XmlCarries(const std::string& text);

// "YYYY-MM-DDTHH:MM:SSZ".
bool IsUtcText(const std::string& text);

// Aborts when the envelope is not what an ONVIF request must be. Returns the
// token's Created text (empty without a user).
std::string CheckRequest(const std::string& action, const std::string& envelope, const std::string& user,
                         const std::string& password);

// Aborts when the <wsse:Security> element text is not a well-formed token of
// the user with the right digest; returns its Created text.
std::string CheckSecurityHeader(const std::string& header, const std::string& user, const std::string& password);

}  // namespace korvane::fuzz

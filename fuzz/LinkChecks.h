// What a camera's link settings must be once the tool has accepted them,
// from the command line or the camera file alike: the bounds of every
// setting, and an address the library can use for the mode.
#pragma once

#include "Check.h"

#include "CommandLine.h"
#include "onvif/PTZService.h"

#include <boost/asio/ip/address.hpp>

#include <string>

namespace korvane::fuzz {

inline void CheckAcceptedLink(const tool::CameraOptions& options)
{
    FUZZ_REQUIRE(!options.target.empty(), "a link without a device or address");
    FUZZ_REQUIRE(options.target.find('\0') == std::string::npos, "the link's target '%s' hides a zero byte",
                 options.target.c_str());
    FUZZ_REQUIRE(options.address <= 255, "address %u", options.address);
    FUZZ_REQUIRE(options.panSpeed >= 0 && options.panSpeed <= 63 && options.tiltSpeed >= 0 && options.tiltSpeed <= 63,
                 "speeds %d %d", options.panSpeed, options.tiltSpeed);
    FUZZ_REQUIRE(!options.port || (*options.port >= 1 && *options.port <= 65535), "port %u", *options.port);
    FUZZ_REQUIRE(options.protocol == PROTOCOL_PELCO_D || options.protocol == PROTOCOL_PELCO_P ||
                     options.protocol == PROTOCOL_VISCA,
                 "protocol %d", static_cast<int>(options.protocol));
    const bool onvif = options.mode == MODE_NETWORK && options.deviceType == DEVICE_ONVIF;
    const bool viscaIp = options.mode == MODE_NETWORK && options.deviceType == DEVICE_VISCA_IP;
    const bool relay = options.mode == MODE_NETWORK && !onvif && !viscaIp;
    // A VISCA-over-IP camera is address 1 whatever the line says.
    if (viscaIp)
        FUZZ_REQUIRE(options.protocol == PROTOCOL_VISCA && options.address == 1, "VISCA over IP as protocol %d, address %u",
                     static_cast<int>(options.protocol), options.address);
    else if (!onvif && options.protocol == PROTOCOL_VISCA)
        FUZZ_REQUIRE(options.address >= 1 && options.address <= 7, "VISCA camera at address %u", options.address);
    boost::system::error_code error;
    switch (options.mode) {
    case MODE_SERIAL:
        FUZZ_REQUIRE(tool::IsLineSpeed(options.baud), "baud %u", options.baud);
        FUZZ_REQUIRE(options.dataBits >= 5 && options.dataBits <= 8, "%u data bits", options.dataBits);
        break;
    case MODE_NETWORK:
        // An ONVIF camera may be written http(s)://IP[:PORT]: the library's
        // own reading of it must find a device service there.
        if (!onvif) boost::asio::ip::make_address(options.target, error);
        else if (korvane::DeviceServiceUrl(options.target.c_str(), options.port.value_or(80)).empty())
            error = boost::asio::error::invalid_argument;
        FUZZ_REQUIRE(!error, "network camera at '%s'", options.target.c_str());
        FUZZ_REQUIRE(!(relay && options.protocol == PROTOCOL_VISCA), "VISCA through the relay service");
        break;
    case MODE_TRACKSYSTEM: {
        const auto address = boost::asio::ip::make_address_v4(options.target, error);
        FUZZ_REQUIRE(!error && !address.is_unspecified() && !address.is_multicast() &&
                         address != boost::asio::ip::address_v4::broadcast(),
                     "tracking system at '%s'", options.target.c_str());
        FUZZ_REQUIRE(options.port.has_value(), "tracking system without a port");
        break;
    }
    default: FUZZ_REQUIRE(false, "mode %d", static_cast<int>(options.mode));
    }
    // A pin is a SHA-256, on an HTTPS camera only: never ignored beside plain HTTP.
    if (!options.tlsFingerprint.empty()) {
        FUZZ_REQUIRE(options.mode == MODE_NETWORK && options.deviceType == DEVICE_ONVIF, "a pin on a %s link",
                     options.Describe().c_str());
        FUZZ_REQUIRE(tool::NormalFingerprint(options.tlsFingerprint) == options.tlsFingerprint,
                     "pin '%s' is not 64 lower-case hex digits", options.tlsFingerprint.c_str());
        FUZZ_REQUIRE(tool::OnvifOrigin(options).rfind("https://", 0) == 0, "a pin beside plain HTTP: %s",
                     tool::OnvifOrigin(options).c_str());
    }
    FUZZ_REQUIRE(!options.Describe().empty(), "no description");
}

}  // namespace korvane::fuzz

// Apart from Discover.cpp, so that the panel (and its fuzz target) list what
// a search found without the camera file's code.
#include "Discover.h"

#include <korvane/Korvane.h>

namespace korvane::tool {

nlohmann::ordered_json FoundCameras(const CKorvaneDiscovery& found)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (int i = 0; i < found.Count(); ++i)
        list.push_back({{"address", found.Address(i)}, {"scheme", found.Scheme(i)}, {"host", found.Host(i)},
                        {"port", found.Port(i)}, {"name", found.Name(i)}, {"hardware", found.Hardware(i)},
                        {"ptz", found.Ptz(i)}, {"endpoint", found.Endpoint(i)}});
    return list;
}

}  // namespace korvane::tool

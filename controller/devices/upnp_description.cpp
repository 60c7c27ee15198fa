#include "controller/devices/upnp_description.h"

#include <array>
#include <utility>

namespace hostsweep::controller {

std::vector<Announcement> UpnpAnnouncements(const UpnpDescription& description) {
  const std::array<std::pair<const char*, const std::string*>, 5> fields{
      {{"ssdp:deviceType", &description.deviceType},
       {"ssdp:manufacturer", &description.manufacturer},
       {"ssdp:modelName", &description.modelName},
       {"ssdp:modelNumber", &description.modelNumber},
       {"ssdp:friendlyName", &description.friendlyName}}};
  std::vector<Announcement> said;
  for (const auto& [key, value] : fields) {
    if (!value->empty()) {
      said.push_back({key, *value});
    }
  }
  return said;
}

}  // namespace hostsweep::controller

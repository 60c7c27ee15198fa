// A UPnP device description (UPnP Device Architecture 2.0, section 2.3): the
// root device's own fields, read from what the device served. libxml2 reads
// it; the Windows build has no libxml2 and reads none (the answers' search
// targets still tell device types there).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/devices/device_rules.h"

namespace hostsweep::controller {

struct UpnpDescription {
  std::string deviceType{};
  std::string manufacturer{};
  std::string modelName{};
  std::string modelNumber{};
  std::string friendlyName{};
  std::string udn{};
  bool operator==(const UpnpDescription&) const = default;
};

// Elements nested deeper than this, a document type declaration (and with it
// every entity), or no <root><device> refuse the whole description.
inline constexpr int kMostDescriptionDepth = 16;
// Each field's text is kept up to this many bytes.
inline constexpr std::size_t kMostFieldLength = 256;

std::optional<UpnpDescription> ParseUpnpDescription(std::string_view xml);

// The rules' words for it: "ssdp:deviceType", "ssdp:manufacturer", ...
std::vector<Announcement> UpnpAnnouncements(const UpnpDescription& description);

}  // namespace hostsweep::controller

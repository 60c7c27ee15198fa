// What a build of hostsweep leaves out, and why: the one place that says so.
// The options that need such a part are refused as the command line is read,
// before anything starts; the part's stand-in in the build says the same if
// it is ever reached.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hostsweep::controller {

struct PartNotBuilt {
  std::vector<std::string_view> options;  // every option that needs the part
  std::string_view why;
};

// The parts this build lacks: none in a whole Linux build.
std::span<const PartNotBuilt> PartsNotBuilt();

// The refusal for `option` where this build lacks its part, else nothing.
std::optional<std::string> NotInThisBuild(std::string_view option);

// For the stand-ins of the parts left out: throws UsageError.
[[noreturn]] void RefuseNotBuilt(std::string_view option);

}  // namespace hostsweep::controller

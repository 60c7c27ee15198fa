// CLI11's parse errors said in hostsweep's own words, with a suggestion for
// a mistyped option.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace hostsweep::controller {

// The option of `app` that `typed` most likely meant ("--loclanet":
// "--localnet"): one or two letters off, swapped, or the start of only one.
std::optional<std::string> NearestOption(const CLI::App& app, std::string_view typed);

// What a usage error says after "hostsweep: ".
std::string UsageMessage(const CLI::App& app, const CLI::ParseError& error);

// What --watch says of `given` when it is not an interval: out of range, or
// not a duration at all, which mostly means the interval was left out.
std::string NotAnInterval(std::string_view given);

// A validator for a whole number from `least` to `most`, which says so in
// its message and adds nothing to the value's name in --help.
CLI::Validator WholeNumber(unsigned long long least, unsigned long long most);

}  // namespace hostsweep::controller

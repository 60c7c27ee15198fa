// Reading what an earlier sweep found: its JSON lines (--json) or its XML
// document (--xml), or the watch's state file. All come from outside and are
// read as hostile: sizes bounded, every field checked, any fault an
// EarlierResultsError naming it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/history/sweep_diff.h"

namespace hostsweep::controller {

// Its hosts found (alive, silent or named) and the addresses it covered, each
// address once, as its first row has it. The watch's state keeps each host
// once, by its address and identity (its MAC where that names a device, else
// its name).
struct EarlierSweep {
  std::vector<SeenHost> found;
  std::vector<Address> swept;
  // Per host found: the sweeps in a row that may miss it before it is gone
  // (--gone-after); none: gone from the first sweep that misses it.
  std::vector<int> missesToGone{};
};

EarlierSweep ParseSweepLines(std::string_view bytes);
EarlierSweep ParseSweepXml(std::string_view bytes);
// Either, told apart by the first byte that is not blank: '<' is XML.
EarlierSweep ParseEarlierSweep(std::string_view bytes);
EarlierSweep ReadEarlierSweep(const std::filesystem::path& path);

// A host the watch knows of, and when it saw it.
struct KnownHost {
  SeenHost host;
  bool present = false;        // answered the last sweep
  std::int64_t firstSeen = 0;  // seconds since the epoch
  std::int64_t lastSeen = 0;
  int missed = 0;           // sweeps in a row that covered it and did not find it
  std::int64_t record = 0;  // its number, given once (the state database's device id)
  bool operator==(const KnownHost&) const = default;
};

inline constexpr int kStateFormat = 1;

std::vector<KnownHost> ParseState(std::string_view bytes);
// The JSON state file as a watch wrote it before the state database: what
// the database carries over.
std::string StateDocument(const std::vector<KnownHost>& hosts);
// Nothing when no file is there yet.
std::optional<std::vector<KnownHost>> ReadState(const std::filesystem::path& path);

}  // namespace hostsweep::controller

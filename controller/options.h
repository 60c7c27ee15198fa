// The command line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "controller/output.h"

namespace hostsweep::controller {

// Enough for a /24 to run as single-address batches all at once (two echo
// time-outs in all), and for a /20 in three rounds of three-address batches.
inline constexpr std::size_t kDefaultJobs = 512;

struct Options {
  std::vector<std::string> targets;
  std::vector<std::string> targetFiles;
  bool localNetworks = false;
  Format format = Format::kTable;
  std::string xmlFile;   // nmap's XML as well; "-" for standard output instead
  std::string htmlFile;  // a page of our own as well; "-" likewise
  bool foundOnly = false;
  bool namesOnly = false;
  bool extraNames = true;  // NetBIOS and mDNS names for hosts DNS does not name
  bool quiet = false;
  bool verbose = false;
  std::size_t jobs = kDefaultJobs;
  std::optional<std::size_t> batchSize;
  unsigned pause = 0;
  std::string worker;
};

struct ParsedCommandLine {
  std::optional<Options> options;  // none when the run ends here
  int exitStatus = 0;              // for --help, --version and usage errors
};

// Parses `argv`; help, version and usage errors are printed to `out`/`err`.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

}  // namespace hostsweep::controller

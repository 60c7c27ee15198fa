// One run of hostsweep once the command line is read: a sweep, or a watch
// that sweeps until interrupted. Each returns the exit status.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "controller/app/options.h"
#include "controller/app/sweep_stages.h"
#include "controller/link/vendors.h"
#include "controller/output/output_channel.h"
#include "controller/output/sweep_run.h"
#include "controller/passive/passive_socket.h"

namespace hostsweep::controller {

// What main opened while it still had its capabilities.
struct OpenedMeans {
  std::unique_ptr<LinkSocket> linkSocket;
  std::string whyNoLinkSocket;
  std::unique_ptr<Ipv6Prober> ipv6Prober;
  std::string whyNoIpv6;
  std::unique_ptr<PassiveSocket> passiveSocket;  // what a watch hears between sweeps
  std::string whyNoPassive;
};

struct Invocation {
  std::string commandLine;   // as the user typed it
  bool inputClosed = false;  // standard input was closed at start
};

// Checks what the options ask of the system, reads the targets (and the
// earlier sweep for --compare), then sweeps once or watches. Throws
// UsageError, SystemError and EarlierResultsError.
int Run(const Options& options, const Invocation& invocation, OutputChannel& output,
        OutputChannel& errors, OpenedMeans& means);

}  // namespace hostsweep::controller

// What a sweep runs beside its workers: the link pass, the IPv6 search, and
// the stages its results pass through, made by the sources' list
// (sources.h) in the order each needs the facts of those before it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/app/options.h"
#include "controller/app/sources.h"
#include "controller/base/stage.h"
#include "controller/ipv6/ipv6_neighbours.h"
#include "controller/link/link_pass.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

class SweepStages {
 public:
  // Starts the IPv6 search and readies the link pass and the askers, all on
  // `loop`.
  SweepStages(const Options& options, const std::vector<Address>& addresses,
              const SweepMeans& means, EventLoop& loop);
  SweepStages(const SweepStages&) = delete;
  SweepStages& operator=(const SweepStages&) = delete;

  // None for a name-only sweep, which sends nothing on the link and has its
  // names already.
  [[nodiscard]] Stages* ForSweep() { return namesOnly_ ? nullptr : &stages_; }
  [[nodiscard]] ArpPass* LinkPass() const { return linkPass_.get(); }
  // The addresses left to the workers' echo requests.
  [[nodiscard]] std::size_t EchoPathCount(std::size_t addressCount) const;
  // A row for each device heard over IPv6 alone (--ipv6), once the search has ended.
  std::vector<HostView> Ipv6OnlyRows(const ResultBook& book, const VendorOf& vendorOf);

 private:
  bool namesOnly_;
  std::optional<Ipv6Search> ipv6Search_;
  std::unique_ptr<ArpPass> linkPass_;
  SourceParts parts_;
  Stages stages_;
};

}  // namespace hostsweep::controller

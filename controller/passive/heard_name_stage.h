// The names a watch heard devices give themselves in their DHCP messages,
// for the rows of the hosts a sweep finds: a device that answers no name
// question keeps the name it asked its DHCP server for.
#pragma once

#include "controller/base/stage.h"
#include "controller/passive/passive_book.h"

namespace hostsweep::controller {

class HeardNameStage : public Stage {
 public:
  explicit HeardNameStage(const PassiveBook& heard) : heard_(heard) {}
  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;

 private:
  const PassiveBook& heard_;
};

}  // namespace hostsweep::controller

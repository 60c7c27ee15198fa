#include "controller/passive/passive_listener.h"

namespace hostsweep::controller {

bool FrameAllowance::Take(Clock::time_point now) {
  if (now >= began_ + interval_) {
    began_ = now;
    taken_ = 0;
  }
  if (taken_ >= most_) {
    return false;
  }
  ++taken_;
  return true;
}

PassiveListener::PassiveListener(EventLoop& loop, PassiveSocket& socket, Heard heard)
    : loop_(loop), socket_(socket), heard_(std::move(heard)) {
  Listen();
}

PassiveListener::~PassiveListener() {
  if (resume_) {
    loop_.Cancel(*resume_);
  }
  loop_.Unwatch(socket_.Handle());
}

void PassiveListener::Listen() {
  resume_.reset();
  loop_.Watch(socket_.Handle(), kReadable, [this](unsigned /*ready*/) { Read(); });
}

void PassiveListener::Read() {
  while (allowance_.Take(loop_.Now())) {
    const auto frame = socket_.Receive();
    if (!frame) {
      return;
    }
    ++read_;
    if (const auto sighting = DecodeSighting(*frame)) {
      heard_(*sighting);
    }
  }
  // Used up: the socket waits, unwatched, for the next interval.
  ++pauses_;
  loop_.Unwatch(socket_.Handle());
  resume_ = loop_.At(allowance_.NextInterval(), [this] { Listen(); });
}

}  // namespace hostsweep::controller

#include "controller/output/output_channel.h"

namespace hostsweep::controller {
namespace {

// Unflushed output beyond this (a large table) goes out before more is taken.
constexpr std::size_t kMostUnwritten = 65536;

}  // namespace

OutputChannel::~OutputChannel() { OutputChannel::sync(); }

OutputChannel::int_type OutputChannel::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    const char one = traits_type::to_char_type(c);
    xsputn(&one, 1);
  }
  return traits_type::not_eof(c);
}

std::streamsize OutputChannel::xsputn(const char* text, std::streamsize count) {
  if (outcome_ == WriteOutcome::kWritten) {
    unwritten_.append(text, static_cast<std::size_t>(count));
    if (unwritten_.size() > kMostUnwritten) {
      sync();
    }
  }
  return count;
}

int OutputChannel::sync() {
  if (outcome_ == WriteOutcome::kWritten && !unwritten_.empty()) {
    outcome_ = WriteStandard(toError_, unwritten_, problem_);
  }
  unwritten_.clear();
  return 0;
}

}  // namespace hostsweep::controller

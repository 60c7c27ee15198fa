// Standard output or standard error as the controller writes to them, for a
// std::ostream: what is flushed goes out whole (each line of CSV and JSON is
// flushed). The first write that fails, finds its reader gone or is given up
// for an interruption is kept, and all that follows is dropped: the sweep
// asks after each round and ends.
#pragma once

#include <streambuf>
#include <string>

#include "controller/system/console.h"

namespace hostsweep::controller {

class OutputChannel : public std::streambuf {
 public:
  explicit OutputChannel(bool toError) : toError_(toError) {}
  ~OutputChannel() override;
  OutputChannel(const OutputChannel&) = delete;
  OutputChannel& operator=(const OutputChannel&) = delete;
  OutputChannel(OutputChannel&&) = delete;
  OutputChannel& operator=(OutputChannel&&) = delete;

  // kWritten while every write has gone out.
  [[nodiscard]] WriteOutcome Outcome() const { return outcome_; }
  // Why a kFailed write failed.
  [[nodiscard]] const std::string& Problem() const { return problem_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  bool toError_;
  std::string unwritten_;
  WriteOutcome outcome_ = WriteOutcome::kWritten;
  std::string problem_;
};

}  // namespace hostsweep::controller

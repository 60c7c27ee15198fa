// A resolver for the name stage's tests: no lookup leaves the test.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "controller/system/resolver.h"

namespace hostsweep::controller {

// Answers every lookup at once with one name (empty: none), and counts them.
class FakeResolver : public Resolver {
 public:
  explicit FakeResolver(std::string name) : name_(std::move(name)) {}
  void Ask(std::size_t tag, Address /*address*/) override {
    ++asked;
    answers_.emplace_back(tag, name_);
  }
  [[nodiscard]] bool Busy() const override { return !answers_.empty(); }
  std::vector<Answer> Take(std::chrono::milliseconds /*timeout*/) override {
    return std::exchange(answers_, {});
  }
  int asked = 0;

 private:
  std::string name_;
  std::vector<Answer> answers_;
};

}  // namespace hostsweep::controller

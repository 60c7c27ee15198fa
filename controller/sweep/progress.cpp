#include "controller/sweep/progress.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace hostsweep::controller {
namespace {

constexpr std::chrono::seconds kEarliestEstimate{5};
constexpr std::size_t kEstimateAfterParts = 10;  // a tenth done

constexpr std::chrono::milliseconds kRedrawInterval{100};
// The cursor is left at the start of the line, so that a warning written while
// the line shows overwrites it instead of being appended to it.
constexpr auto kClearLine = "\r\x1b[K";

std::size_t CountOf(const ResultBook& book, State state) {
  const auto& results = book.Results();
  return static_cast<std::size_t>(
      std::count_if(results.begin(), results.end(),
                    [state](const HostResult& result) { return StateOf(result) == state; }));
}

std::string Duration(std::chrono::seconds duration) {
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(duration);
  const auto seconds = duration - minutes;
  return std::to_string(minutes.count()) + ":" + (seconds.count() < 10 ? "0" : "") +
         std::to_string(seconds.count());
}

}  // namespace

std::string ProgressText(std::size_t done, std::size_t total, std::size_t found,
                         std::chrono::seconds elapsed) {
  std::string text = std::to_string(done) + "/" + std::to_string(total) + " done, " +
                     std::to_string(found) + " found, " + Duration(elapsed) + " elapsed";
  if (done < total && done * kEstimateAfterParts >= total && elapsed >= kEarliestEstimate) {
    const auto left = elapsed * static_cast<long>(total - done) / static_cast<long>(done);
    text += ", about " + Duration(left) + " left";
  }
  return text;
}

std::string SweepSummary(const ResultBook& book, bool namesOnly,
                         std::chrono::milliseconds elapsed) {
  const auto& results = book.Results();
  const auto count = [&book](State state) { return CountOf(book, state); };
  std::string text = "hostsweep: " + std::to_string(results.size()) +
                     (results.size() == 1 ? " address " : " addresses ") +
                     (namesOnly ? "looked up: " : "swept: ");
  const std::vector<State> shown = namesOnly
                                       ? std::vector{State::kNamed, State::kUnnamed}
                                       : std::vector{State::kAlive, State::kSilent, State::kDead};
  for (const State state : shown) {
    text += std::to_string(count(state)) + " " + std::string(StateText(state)) + ", ";
  }
  for (const State state : {State::kNoReport, State::kUnchecked}) {
    if (const auto left = count(state); left > 0) {
      text += std::to_string(left) + " " + std::string(StateText(state)) + ", ";
    }
  }
  constexpr long kHalfTenth = 50;
  constexpr long kTenth = 100;
  const long tenths = (elapsed.count() + kHalfTenth) / kTenth;
  text.resize(text.size() - 2);
  return text + " in " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

std::optional<std::string> UncheckedWarning(const ResultBook& book) {
  const std::size_t unchecked = CountOf(book, State::kUnchecked);
  if (unchecked == 0) {
    return std::nullopt;
  }
  return "hostsweep: warning: " + std::to_string(unchecked) +
         (unchecked == 1 ? " address answered ARP but was" : " addresses answered ARP but were") +
         " not checked: the neighbour table, which every network namespace of this machine "
         "shares (net.ipv4.neigh.default.gc_thresh3), had no room for their echo requests; they "
         "read unchecked";
}

ProgressLine::ProgressLine(std::ostream& terminal, Now now)
    : terminal_(terminal),
      now_(std::move(now)),
      start_(now_()),
      lastDrawn_(start_ - kRedrawInterval) {}

void ProgressLine::Update(std::size_t done, std::size_t total, std::size_t found) {
  const auto now = now_();
  if (now - lastDrawn_ < kRedrawInterval) {
    return;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
  auto text = ProgressText(done, total, found, elapsed);
  if (showing_ && text == shown_) {
    return;
  }
  lastDrawn_ = now;
  showing_ = true;
  shown_ = std::move(text);
  terminal_ << kClearLine << shown_ << '\r' << std::flush;
}

void ProgressLine::Clear() {
  if (showing_) {
    terminal_ << kClearLine << std::flush;
    showing_ = false;
  }
}

}  // namespace hostsweep::controller

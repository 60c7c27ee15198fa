#include "controller/sweep/progress.h"

namespace hostsweep::controller {
namespace {

constexpr std::chrono::milliseconds kRedrawInterval{250};
// The cursor is left at the start of the line, so that a warning written while
// the line shows overwrites it instead of being appended to it.
constexpr auto kClearLine = "\r\x1b[K";

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
  if (done > 0 && done < total) {
    const auto left = elapsed * static_cast<long>(total - done) / static_cast<long>(done);
    text += ", about " + Duration(left) + " left";
  }
  return text;
}

ProgressLine::ProgressLine(std::ostream& terminal)
    : terminal_(terminal), start_(Clock::now()), lastDrawn_(start_) {}

void ProgressLine::Update(std::size_t done, std::size_t total, std::size_t found) {
  const auto now = Clock::now();
  if (drawn_ && now - lastDrawn_ < kRedrawInterval) {
    return;
  }
  lastDrawn_ = now;
  drawn_ = true;
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
  terminal_ << kClearLine << ProgressText(done, total, found, elapsed) << '\r' << std::flush;
}

void ProgressLine::Clear() {
  if (drawn_) {
    terminal_ << kClearLine << std::flush;
    drawn_ = false;
  }
}

}  // namespace hostsweep::controller

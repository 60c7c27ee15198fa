// Helpers for tests that run the real programs against real sockets: a report
// receiver, process runs, and checks that nothing is left running.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hostsweep::testing {

using std::chrono::milliseconds;

struct ReceivedReport {
  std::uint32_t dwData;
  std::vector<unsigned char> payload;      // cbData bytes
  [[nodiscard]] std::string Text() const;  // up to the first zero byte
};

// Receives reports at a free "hostsweep/<N>" socket, as a controller does,
// acknowledging each one.
class ReportReceiver {
 public:
  ReportReceiver();
  ReportReceiver(const ReportReceiver&) = delete;
  ReportReceiver& operator=(const ReportReceiver&) = delete;
  ~ReportReceiver();

  [[nodiscard]] std::int32_t handle() const { return handle_; }
  // Waits until `count` reports have arrived or `limit` has passed.
  std::vector<ReceivedReport> WaitFor(std::size_t count, milliseconds limit);
  [[nodiscard]] std::vector<ReceivedReport> Received() const;
  [[nodiscard]] std::vector<std::string> Texts() const;

 private:
  void Serve();

  int listener_ = -1;
  int stop_ = -1;  // eventfd that ends Serve()
  std::int32_t handle_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<ReceivedReport> reports_;
  std::thread server_;
};

struct ProcessResult {
  int exitStatus;  // -signal when killed by a signal
  std::string standardError;
  milliseconds elapsed;
};

// Runs a program (no shell) and waits for it.
ProcessResult RunProcess(const std::vector<std::string>& argv);

// The worker binary under test.
std::string WorkerPath();
ProcessResult RunWorkerProcess(const std::string& requestLine);

// Waits until no process runs `program`; false if some still do after `limit`.
bool WaitUntilNoneRun(const std::string& program, milliseconds limit);

// True inside the lab's scanner namespace (the lab bridge address is local).
bool InLab();

}  // namespace hostsweep::testing

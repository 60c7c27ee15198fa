// Helpers for tests that run the real programs against real sockets: a report
// receiver, process runs, and checks that nothing is left running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/posix/file_descriptor.h"

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

  FileDescriptor listener_;
  FileDescriptor stop_;  // eventfd that ends Serve()
  std::int32_t handle_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<ReceivedReport> reports_;
  std::thread server_;
};

struct ProcessResult {
  int exitStatus;  // -signal when killed by a signal
  std::string standardOutput;
  std::string standardError;
  milliseconds elapsed;
};

// A program started without a shell, standard input from /dev/null, standard
// output and error on pipes. Killed and reaped if still running when destroyed.
class ChildProcess {
 public:
  // With `outputFile`, standard output goes to that file instead.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile = {});
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  [[nodiscard]] pid_t pid() const { return pid_; }
  // True once the process has ended (it is then reaped).
  bool Ended();
  // Reads standard output until it holds `text`; false after `limit`.
  bool AwaitOutput(const std::string& text, milliseconds limit);
  // Waits until the process has ended, reading only its standard error, so
  // that a test can leave its output unread; false after `limit`.
  bool AwaitEnd(milliseconds limit);
  // Bytes waiting in the standard output pipe.
  std::size_t UnreadOutput() const;
  // Closes this end of the standard output pipe: the reader has gone.
  void CloseOutput() { output_.Close(); }
  // Collects output until the process has ended, then what is left without
  // waiting (its own children may keep the pipes open). `watch` sees the
  // output after every read.
  ProcessResult Finish(const std::function<void(const ProcessResult&)>& watch = {});

 private:
  bool ReadAvailable(int timeoutMs, bool output = true);

  pid_t pid_ = 0;
  int status_ = 0;  // as waitpid gives it, once ended
  bool ended_ = false;
  FileDescriptor output_;
  FileDescriptor error_;
  std::chrono::steady_clock::time_point start_;
  ProcessResult result_{};
};

// Runs a program and waits for it.
ProcessResult RunProcess(const std::vector<std::string>& argv);

// The worker binary under test.
std::string WorkerPath();
ProcessResult RunWorkerProcess(const std::string& requestLine);

// Processes whose program file is `program`.
std::vector<pid_t> ProcessesRunning(const std::string& program);
// Waits until no process runs `program`; false if some still do after `limit`.
bool WaitUntilNoneRun(const std::string& program, milliseconds limit);

// True inside the lab's scanner namespace (the lab bridge address is local).
bool InLab();

}  // namespace hostsweep::testing

// A recording stand-in for the operating-system layer: tests script what each
// call answers and read back which calls were made, in order, with what.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/os.h"

namespace hostsweep::fake {

// What one IcmpSendEcho call does.
struct EchoAnswer {
  os::ULONG status = os::IP_SUCCESS;
  os::ULONG roundTripMs = 1;
  os::UCHAR ttl = 64;
  os::DWORD returns = 1;
  os::DWORD lastError = 0;
  bool writesReply = true;  // false: the buffer is left as the last request left it
};

inline EchoAnswer Reply(os::ULONG roundTripMs, os::UCHAR ttl) {
  return EchoAnswer{os::IP_SUCCESS, roundTripMs, ttl, 1, 0, true};
}
inline EchoAnswer TimedOut() {
  return EchoAnswer{os::IP_REQ_TIMED_OUT, 0, 0, 0, os::IP_REQ_TIMED_OUT, true};
}

struct EchoRequest {
  std::string destination;  // dotted form
  std::string payload;
  os::DWORD replySize;
  bool hasOptions;
  os::DWORD timeout;
};

struct Report {
  std::int32_t window;
  os::UINT message;
  os::ULONG_PTR dwData;
  os::DWORD cbData;
  std::vector<unsigned char> bytes;  // the cbData bytes at lpData
  [[nodiscard]] std::string Text() const;
};

struct ProcessStart {
  std::string folder;
  std::string name;
  std::string arguments;
};

// Thrown by EndProcess, so a test can see the process end and its status.
struct ProcessEnded {
  int status;
};

struct Platform {
  // Scripted answers.
  std::string argumentText;
  std::map<std::string, std::deque<EchoAnswer>> echoAnswers;  // by destination; none: time-out
  os::HANDLE icmpHandle = reinterpret_cast<os::HANDLE>(std::intptr_t{0x1C0});
  int wsaStartupResult = 0;
  std::map<std::string, std::string> hostNames;  // by address; absent: no host entry
  std::function<os::UCHAR(os::NCB&)> netbios;    // default: reset 0, status request refused
  bool heapAllocFails = false;
  std::string programFolder = "C:\\Tools";
  std::string programName = "hostsweep-worker";
  bool startFails = false;
  std::set<std::string> unloadable;  // calls that raise a Failure, as a missing library would
  std::set<std::string> exhausted;   // calls that run out of memory (std::bad_alloc)

  // Recorded.
  std::vector<std::string> calls;  // every call, by name, in order
  std::vector<EchoRequest> echoRequests;
  std::vector<Report> reports;
  std::vector<ProcessStart> starts;
  std::vector<os::NCB> netbiosRequests;  // control blocks as passed
  std::vector<std::string> failureBoxes;
  int socketStarts = 0;  // starts not yet released
  int heapBlocks = 0;    // blocks not yet freed
  int icmpHandles = 0;   // handles not yet closed
  os::DWORD lastError = 0;

  [[nodiscard]] std::size_t Count(const std::string& call) const;
  [[nodiscard]] std::vector<std::string> CallsExcept(const std::string& call) const;
};

// The platform the current test talks to; Reset() gives a fresh one.
Platform& Current();
void Reset();

}  // namespace hostsweep::fake

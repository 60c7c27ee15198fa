#include "tests/worker/fake_platform.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/failure.h"
#include "common/report.h"

namespace hostsweep::fake {
namespace {

Platform platform;

// Records the call, and raises a Failure if the test made it unloadable or
// runs out of memory if the test exhausted it.
void Record(const std::string& call) {
  platform.calls.push_back(call);
  if (platform.unloadable.count(call) != 0) {
    throw Failure(call + " cannot be loaded");
  }
  if (platform.exhausted.count(call) != 0) {
    throw std::bad_alloc();
  }
}

std::string Dotted(os::IPAddr address) {
  in_addr value{};
  value.s_addr = address;
  return ::inet_ntoa(value);
}

int processHeap = 0;

struct HostEntry {
  std::string name;
  os::hostent entry{};
} hostEntry;

}  // namespace

std::string Report::Text() const { return ReportText(bytes); }

std::size_t Platform::Count(const std::string& call) const {
  return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
}

std::vector<std::string> Platform::CallsExcept(const std::string& call) const {
  std::vector<std::string> rest;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(rest),
               [&](const std::string& c) { return c != call; });
  return rest;
}

Platform& Current() { return platform; }

void Reset() { platform = Platform{}; }

}  // namespace hostsweep::fake

namespace hostsweep::os {

using fake::platform;
using fake::Record;

ULONG inet_addr(const char* text) {
  Record("inet_addr");
  return ::inet_addr(text);
}

int WSAStartup(WORD /*version*/, WSADATA* /*data*/) {
  Record("WSAStartup");
  if (platform.wsaStartupResult == 0) {
    ++platform.socketStarts;
  }
  return platform.wsaStartupResult;
}

int WSACleanup() {
  Record("WSACleanup");
  --platform.socketStarts;
  return 0;
}

hostent* gethostbyaddr(const char* address, int length, int type) {
  Record("gethostbyaddr");
  if (length != 4 || type != AF_INET) {
    return nullptr;
  }
  IPAddr value = 0;
  std::memcpy(&value, address, sizeof value);
  const auto found = platform.hostNames.find(fake::Dotted(value));
  if (found == platform.hostNames.end()) {
    return nullptr;
  }
  fake::hostEntry.name = found->second;
  fake::hostEntry.entry.h_name = fake::hostEntry.name.data();
  return &fake::hostEntry.entry;
}

HANDLE IcmpCreateFile() {
  Record("IcmpCreateFile");
  if (platform.icmpHandle != nullptr && platform.icmpHandle != INVALID_HANDLE_VALUE) {
    ++platform.icmpHandles;
  }
  return platform.icmpHandle;
}

BOOL IcmpCloseHandle(HANDLE /*icmp*/) {
  Record("IcmpCloseHandle");
  --platform.icmpHandles;
  return 1;
}

DWORD IcmpSendEcho(HANDLE /*icmp*/, IPAddr destination, LPVOID requestData, WORD requestSize,
                   IP_OPTION_INFORMATION* requestOptions, LPVOID replyBuffer, DWORD replySize,
                   DWORD timeout) {
  Record("IcmpSendEcho");
  const std::string target = fake::Dotted(destination);
  platform.echoRequests.push_back({target,
                                   std::string(static_cast<const char*>(requestData), requestSize),
                                   replySize, requestOptions != nullptr, timeout});
  auto& queue = platform.echoAnswers[target];
  fake::EchoAnswer answer = fake::TimedOut();
  if (!queue.empty()) {
    answer = queue.front();
    queue.pop_front();
  }
  if (answer.writesReply) {
    ICMP_ECHO_REPLY reply{};
    std::memcpy(&reply, replyBuffer, sizeof reply);
    reply.Address = destination;
    reply.Status = answer.status;
    reply.RoundTripTime = answer.roundTripMs;
    reply.Options.Ttl = answer.ttl;
    std::memcpy(replyBuffer, &reply, sizeof reply);
  }
  platform.lastError = answer.lastError;
  return answer.returns;
}

UCHAR Netbios(NCB* control) {
  Record("Netbios");
  platform.netbiosRequests.push_back(*control);
  if (platform.netbios) {
    return platform.netbios(*control);
  }
  return control->ncb_command == NCBRESET ? NRC_GOODRET : NRC_CMDTMO;
}

DWORD GetLastError() {
  Record("GetLastError");
  return platform.lastError;
}

HANDLE GetProcessHeap() {
  Record("GetProcessHeap");
  return &fake::processHeap;
}

LPVOID HeapAlloc(HANDLE /*heap*/, DWORD /*flags*/, SIZE_T bytes) {
  Record("HeapAlloc");
  if (platform.heapAllocFails) {
    return nullptr;
  }
  ++platform.heapBlocks;
  return std::calloc(1, bytes);
}

BOOL HeapFree(HANDLE /*heap*/, DWORD /*flags*/, LPVOID block) {
  Record("HeapFree");
  --platform.heapBlocks;
  std::free(block);
  return 1;
}

void RtlMoveMemory(void* destination, const void* source, SIZE_T length) {
  Record("RtlMoveMemory");
  std::memmove(destination, source, length);
}

int lstrlenA(const char* text) {
  Record("lstrlenA");
  return static_cast<int>(std::strlen(text));
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
  Record("SendMessageA");
  // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_COPYDATA carries its record's address
  const auto& packet = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  const auto* bytes = static_cast<const unsigned char*>(packet.lpData);
  platform.reports.push_back({static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(window)),
                              message, packet.dwData, packet.cbData,
                              std::vector<unsigned char>(bytes, bytes + packet.cbData)});
  return 1;
}

std::string GetArgumentText() {
  Record("GetArgumentText");
  return platform.argumentText;
}

void YieldToSystem() { Record("YieldToSystem"); }

void ShowFailureBox(const std::string& description) {
  Record("ShowFailureBox");
  platform.failureBoxes.push_back(description);
}

void EndProcess(int exitStatus) {
  Record("EndProcess");
  throw fake::ProcessEnded{exitStatus};
}

std::string GetProgramFolder() {
  Record("GetProgramFolder");
  return platform.programFolder;
}

std::string GetProgramName() {
  Record("GetProgramName");
  return platform.programName;
}

void StartHiddenProcess(const std::string& folder, const std::string& name,
                        const std::string& arguments) {
  Record("StartHiddenProcess");
  if (platform.startFails) {
    throw Failure("cannot start " + folder + "\\" + name + ".exe");
  }
  platform.starts.push_back({folder, name, arguments});
}

}  // namespace hostsweep::os

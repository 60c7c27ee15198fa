// Stands in for the worker to put the controller's report receiver to the
// test; the controller starts it through --worker. HOSTSWEEP_ROGUE_MODE:
//   hostile     sends malformed, oversized, mistagged, stray and duplicate
//               packets (holding one silent connection open meanwhile), then
//               an honest "Dead" report per slot; appends "unacknowledged N"
//               to the file HOSTSWEEP_ROGUE_LOG
//   other-user  becomes the user nobody and reports every slot alive
//   intruder    reports every slot alive, as the user it runs as (a test runs
//               it outside any sweep with a sweep's request line)
//   dead        reports every slot dead at once
//   hang        hands its batch to a successor, as a worker does, and that
//               successor hangs without end
//   flood       writes to its standard error without pause
// In every mode a worker (not a successor) first appends "started" to the file
// HOSTSWEEP_ROGUE_STARTS, when set.
#include <grp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/posix/file_descriptor.h"
#include "common/posix/report_socket.h"
#include "common/report.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace {

namespace report_socket = hostsweep::report_socket;

using hostsweep::kReportTag;
constexpr int kAcknowledgementPatienceMs = 5000;
constexpr uid_t kNobody = 65534;

std::vector<std::string> Fields(const std::string& requestLine) {
  std::vector<std::string> fields;
  std::stringstream stream(requestLine);
  for (std::string field; std::getline(stream, field, ',');) {
    fields.push_back(field);
  }
  return fields;
}

hostsweep::FileDescriptor Connect(std::int32_t handle) {
  hostsweep::FileDescriptor socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  const auto address = report_socket::AddressOf(handle);
  if (connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address.name), address.length) !=
      0) {
    return {};
  }
  return socket;
}

std::vector<unsigned char> Report(const std::string& text, std::uint32_t tag = kReportTag) {
  std::vector<unsigned char> payload(text.begin(), text.end());
  payload.push_back(0);
  return report_socket::Encode(tag, payload);
}

// Sends one packet on a connection of its own; true when it is acknowledged.
bool Deliver(std::int32_t handle, const std::vector<unsigned char>& packet) {
  const auto socket = Connect(handle);
  if (!socket.Valid()) {
    return false;
  }
  bool acknowledged = false;
  if (send(socket.Get(), packet.data(), packet.size(), MSG_NOSIGNAL) ==
      static_cast<ssize_t>(packet.size())) {
    pollfd readable{socket.Get(), POLLIN, 0};
    unsigned char answer = 0;
    acknowledged = poll(&readable, 1, kAcknowledgementPatienceMs) == 1 &&
                   recv(socket.Get(), &answer, 1, 0) == 1 &&
                   answer == report_socket::kAcknowledgement;
  }
  return acknowledged;
}

std::vector<std::string> Labels(const std::vector<std::string>& fields) {
  std::vector<std::string> labels;
  for (std::size_t address = 1; address + 1 < fields.size() && address <= 5; address += 2) {
    if (!fields[address].empty()) {
      labels.push_back(fields[address + 1]);
    }
  }
  return labels;
}

int Hostile(std::int32_t handle, const std::vector<std::string>& labels) {
  const auto silent = Connect(handle);
  std::vector<std::vector<unsigned char>> packets{
      {0x03, 0x00, 0x00},
      report_socket::Encode(kReportTag, std::vector<unsigned char>(10, 'x')),
      Report(std::string(100000, 'A')),
      Report(labels.front() + ",Dead", 7),
      Report("no-such-label,Dead"),
      Report(labels.front() + ",not,a,live,report"),
      Report(std::string(300, ',')),
  };
  // A header that promises more payload than the packet has.
  packets[1][4] = 200;
  int unacknowledged = 0;
  for (const auto& packet : packets) {
    unacknowledged += Deliver(handle, packet) ? 0 : 1;
  }
  for (const auto& label : labels) {
    unacknowledged += Deliver(handle, Report(label + ",Dead")) ? 0 : 1;
  }
  unacknowledged += Deliver(handle, Report(labels.front() + ",Dead")) ? 0 : 1;
  if (const char* log = std::getenv("HOSTSWEEP_ROGUE_LOG")) {
    std::ofstream(log, std::ios::app) << "unacknowledged " << unacknowledged << "\n";
  }
  return 0;
}

int Intruder(std::int32_t handle, const std::vector<std::string>& labels) {
  for (const auto& label : labels) {
    Deliver(handle, Report(label + ",1,64,intruder,"));
  }
  return 0;
}

int OtherUser(std::int32_t handle, const std::vector<std::string>& labels) {
  if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
    return 1;
  }
  return Intruder(handle, labels);
}

int Dead(std::int32_t handle, const std::vector<std::string>& labels) {
  for (const auto& label : labels) {
    Deliver(handle, Report(label + ",Dead"));
  }
  return 0;
}

int Hang(char** argv) {
  if (std::getenv("HOSTSWEEP_ROGUE_SUCCESSOR") == nullptr) {
    setenv("HOSTSWEEP_ROGUE_SUCCESSOR", "1", 1);
    pid_t successor = 0;
    return posix_spawn(&successor, "/proc/self/exe", nullptr, nullptr, argv, environ) == 0 ? 0 : 1;
  }
  for (;;) {
    pause();
  }
}

int Flood() {
  std::array<char, 65536> lines{};
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    lines[i] = 'y';
    lines[i + 1] = '\n';
  }
  while (write(STDERR_FILENO, lines.data(), lines.size()) > 0) {
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = std::getenv("HOSTSWEEP_ROGUE_MODE");
  if (argc != 2 || mode == nullptr) {
    return 2;
  }
  const auto fields = Fields(argv[1]);
  const auto labels = Labels(fields);
  if (fields.empty() || labels.empty()) {
    return 2;
  }
  const auto handle = static_cast<std::int32_t>(std::strtol(fields[0].c_str(), nullptr, 10));
  const std::string chosen = mode;
  if (const char* starts = std::getenv("HOSTSWEEP_ROGUE_STARTS");
      starts != nullptr && std::getenv("HOSTSWEEP_ROGUE_SUCCESSOR") == nullptr) {
    std::ofstream(starts, std::ios::app) << "started\n";
  }
  if (chosen == "hostile") {
    return Hostile(handle, labels);
  }
  if (chosen == "dead") {
    return Dead(handle, labels);
  }
  if (chosen == "hang") {
    return Hang(argv);
  }
  if (chosen == "flood") {
    return Flood();
  }
  if (chosen == "intruder") {
    return Intruder(handle, labels);
  }
  return chosen == "other-user" ? OtherUser(handle, labels) : 2;
}

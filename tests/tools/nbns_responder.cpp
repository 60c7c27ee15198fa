// Answers NetBIOS node status requests on UDP port 137 of one address, with
// the names and unit ID it is given, well or in one chosen wrong way, so that
// tests can put a known NetBIOS host on a lab address.
//
//   nbns_responder --address A [--unit-id 02-00-5E-10-00-0A] [--name NAME[/SUFFIX][/group]]...
//                  [--reply good|silent|truncated|wrong-id|huge-count|scope|extra-bytes|flood]
//
// SUFFIX is the name's last byte in hexadecimal (default 00). The replies:
// silent never answers; truncated ends inside the unit ID; wrong-id answers
// another transaction; huge-count announces 255 names; scope adds a scope to
// the answer's name; extra-bytes appends bytes after the record; flood sends
// many answers to other transactions before the good one. Prints "ready"
// once the port is bound.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/tools/node_status_answer.h"

namespace {

using hostsweep::node_status::NodeStatus;

constexpr int kFloodCount = 100;
constexpr std::size_t kExtraBytes = 1200;
constexpr std::uint8_t kHugeNameCount = 0xFF;

struct Options {
  std::string address;
  NodeStatus status{};
  std::string reply = "good";
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr, "nbns_responder: %s\n", problem.c_str());
  std::exit(2);
}

void ParseUnitId(const std::string& text, NodeStatus& status) {
  std::array<unsigned, hostsweep::node_status::kUnitIdSize> bytes{};
  if (std::sscanf(text.c_str(), "%2x-%2x-%2x-%2x-%2x-%2x", &bytes[0], &bytes[1], &bytes[2],
                  &bytes[3], &bytes[4], &bytes[5]) != 6) {
    Usage("unit ID must look like 02-00-5E-10-00-0A");
  }
  std::copy(bytes.begin(), bytes.end(), status.statistics.begin());
}

// NAME[/SUFFIX][/group]
hostsweep::node_status::NameEntry ParseName(const std::string& text) {
  hostsweep::node_status::NameEntry entry{};
  entry.name.fill(' ');
  const auto slash = text.find('/');
  const std::string name = text.substr(0, slash);
  std::memcpy(entry.name.data(), name.data(), std::min<std::size_t>(name.size(), 15));
  std::string rest = slash == std::string::npos ? "" : text.substr(slash + 1);
  entry.flags = hostsweep::node_status::kActiveFlag;
  if (rest.ends_with("group")) {
    entry.flags |= hostsweep::node_status::kGroupFlag;
    rest.erase(rest.size() - 5);
  }
  entry.name.back() = static_cast<std::uint8_t>(rest.empty() ? 0 : std::stoul(rest, nullptr, 16));
  return entry;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i + 1 == arguments.size()) {
      Usage(arguments[i] + " needs a value");
    }
    const std::string& value = arguments[++i];
    if (arguments[i - 1] == "--address") {
      options.address = value;
    } else if (arguments[i - 1] == "--unit-id") {
      ParseUnitId(value, options.status);
    } else if (arguments[i - 1] == "--name") {
      options.status.names.push_back(ParseName(value));
    } else if (arguments[i - 1] == "--reply") {
      options.reply = value;
    } else {
      Usage("unknown option " + arguments[i - 1]);
    }
  }
  if (options.address.empty()) {
    Usage("--address is required");
  }
  return options;
}

std::vector<std::uint8_t> AnswerTo(const hostsweep::node_status::Request& request,
                                   const Options& options) {
  using hostsweep::node_status::EncodeReply;
  using hostsweep::node_status::kStatisticsSize;
  if (options.reply == "scope") {
    return EncodeReply(request, options.status, {"lab", "example"});
  }
  auto reply = EncodeReply(request, options.status);
  if (options.reply == "truncated") {
    reply.resize(reply.size() - kStatisticsSize + 3);
  } else if (options.reply == "wrong-id") {
    reply[1] ^= 0x01;
  } else if (options.reply == "huge-count") {
    const std::size_t table =
        options.status.names.size() * (hostsweep::node_status::kNetbiosNameSize + 2);
    reply[reply.size() - kStatisticsSize - table - 1] = kHugeNameCount;
  } else if (options.reply == "extra-bytes") {
    reply.insert(reply.end(), kExtraBytes, 0xEE);
  } else if (options.reply != "good" && options.reply != "flood") {
    Usage("unknown reply " + options.reply);
  }
  return reply;
}

void Answer(int socket, const sockaddr_in& peer, const std::vector<std::uint8_t>& reply) {
  sendto(socket, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
         sizeof peer);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(hostsweep::node_status::kPort);
  if (inet_pton(AF_INET, options.address.c_str(), &local.sin_addr) != 1) {
    Usage("not an IPv4 address: " + options.address);
  }
  const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket < 0 || bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    std::perror("nbns_responder: bind");
    return 1;
  }
  // Whoever started us may send requests from now on.
  std::puts("ready");
  std::fflush(stdout);
  std::vector<std::uint8_t> datagram(65536);
  for (;;) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const ssize_t length = recvfrom(socket, datagram.data(), datagram.size(), 0,
                                    reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (length <= 0 || options.reply == "silent") {
      continue;
    }
    const auto request = hostsweep::node_status::ParseRequest(
        std::span(datagram).first(static_cast<std::size_t>(length)));
    if (!request) {
      continue;
    }
    if (options.reply == "flood") {
      auto other = *request;
      for (int i = 0; i < kFloodCount; ++i) {
        ++other.transactionId;
        Answer(socket, peer, AnswerTo(other, options));
      }
    }
    Answer(socket, peer, AnswerTo(*request, options));
  }
}

// Answers mDNS reverse lookups (PTR for the reverse name of its address) on
// UDP port 5353 of one address, well or in one chosen hostile way, so that
// tests can put an mDNS host on a lab address.
//
//   mdns_responder --address A --name NAME [--reply good|flood|crafted|from B]
//
// good answers the asker's port with NAME; flood first sends answers with
// other IDs, for another address, with a name longer than DNS allows,
// cut short, and with a compression loop, then the good answer; crafted
// sends only datagrams built to cost a parser the most (see Crafted); "from
// B" sends the good answer from address B (another address of the same host)
// instead of A. Questions for other names get no answer. Prints "ready" once
// the port is bound, and "asked" for each question it answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "tests/tools/mdns_answer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kFloodCount = 50;

struct Options {
  std::string address;
  std::string name;
  std::string reply = "good";
  std::string from;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr, "mdns_responder: %s\n", problem.c_str());
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  for (std::size_t i = 0; i + 1 < arguments.size(); i += 2) {
    const std::string& value = arguments[i + 1];
    if (arguments[i] == "--address") {
      options.address = value;
    } else if (arguments[i] == "--name") {
      options.name = value;
    } else if (arguments[i] == "--reply") {
      options.reply = value;
    } else if (arguments[i] == "--from") {
      options.from = value;
    } else {
      Usage("unknown option " + arguments[i]);
    }
  }
  if (options.address.empty() || options.name.empty() || arguments.size() % 2 != 0) {
    Usage("--address and --name are required, every option takes a value");
  }
  return options;
}

int BoundSocket(const std::string& address) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(hostsweep::mdns::kPort);
  if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
    Usage("not an IPv4 address: " + address);
  }
  const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket < 0 || bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    std::perror("mdns_responder: bind");
    std::exit(1);
  }
  return socket;
}

// What "flood" sends before the good answer: every one must be refused.
std::vector<Bytes> Hostile(const hostsweep::mdns::Query& query) {
  std::vector<Bytes> out;
  for (int i = 1; i <= kFloodCount; ++i) {
    auto other = query;
    other.id = static_cast<std::uint16_t>(query.id + i);
    out.push_back(EncodePtrAnswer(other, "wrong-id.local"));
  }
  auto otherAddress = query;
  otherAddress.name = hostsweep::mdns::ReverseName(0x0AD500FE);
  out.push_back(EncodePtrAnswer(otherAddress, "other-address.local"));
  out.push_back(EncodePtrAnswer(query, std::string(300, 'x') + ".local"));
  auto cut = EncodePtrAnswer(query, "cut.local");
  cut.resize(cut.size() - 4);
  out.push_back(cut);
  // The target is a pointer to itself.
  auto loop = EncodePtrAnswer(query, "a");
  loop.resize(loop.size() - 3);
  loop.back() = 2;  // the record's data: the two bytes of the pointer
  const auto at = static_cast<std::uint16_t>(loop.size());
  loop.push_back(static_cast<std::uint8_t>(0xC0 | at >> 8));
  loop.push_back(static_cast<std::uint8_t>(at & 0xFF));
  out.push_back(loop);
  return out;
}

// Crafted datagrams per question.
constexpr int kCraftedCount = 8;
// Pointers in the chain, and records that end in it: as many as fit in one
// datagram, the chain's end within reach of a pointer's 14 bits.
constexpr int kChainPointers = 8000;
constexpr int kChainedRecords = 3400;

// A well-formed answer with the question's ID whose every name is cheap on
// the wire and dear to read: the first record (TXT) holds a chain of
// backward compression pointers, each to the one before, the first to a
// one-label name; thousands of PTR records after it have the chain's end as
// their owner, so a reader that does not count hops walks the whole chain
// for each of them. No record answers the question.
Bytes Crafted(const hostsweep::mdns::Query& query) {
  using hostsweep::protocol::PutWord;
  constexpr std::uint16_t kPtr = 12;
  constexpr std::uint16_t kText = 16;
  Bytes out;
  for (const int word : {static_cast<int>(query.id), 0x8400, 1, 1 + kChainedRecords, 0, 0}) {
    PutWord(out, static_cast<std::uint16_t>(word));
  }
  const auto question = hostsweep::mdns::EncodePtrQuery(query.id, query.name);
  out.insert(out.end(), question.begin() + 12, question.end());
  const auto putRecord = [&out](std::uint16_t owner, std::uint16_t type, std::size_t length) {
    for (const int word :
         {0xC000 | owner, static_cast<int>(type), 1, 0, 10, static_cast<int>(length)}) {
      PutWord(out, static_cast<std::uint16_t>(word));
    }
  };
  putRecord(12, kText, 3 + 2 * kChainPointers);
  auto previous = static_cast<std::uint16_t>(out.size());
  out.insert(out.end(), {1, 'x', 0});
  for (int i = 0; i < kChainPointers; ++i) {
    const auto at = static_cast<std::uint16_t>(out.size());
    PutWord(out, static_cast<std::uint16_t>(0xC000 | previous));
    previous = at;
  }
  for (int i = 0; i < kChainedRecords; ++i) {
    putRecord(previous, kPtr, 0);
  }
  return out;
}

void SendTo(int socket, const sockaddr_in& peer, const Bytes& datagram) {
  sendto(socket, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
         sizeof peer);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const int socket = BoundSocket(options.address);
  const int answerSocket = options.reply == "from" ? BoundSocket(options.from) : socket;
  if (options.reply != "good" && options.reply != "flood" && options.reply != "from" &&
      options.reply != "crafted") {
    Usage("unknown reply " + options.reply);
  }
  in_addr own{};
  inet_pton(AF_INET, options.address.c_str(), &own);
  const std::string ownName = hostsweep::mdns::ReverseName(ntohl(own.s_addr));
  std::puts("ready");
  std::fflush(stdout);
  Bytes datagram(65536);
  for (;;) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const ssize_t length = recvfrom(socket, datagram.data(), datagram.size(), 0,
                                    reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (length <= 0) {
      continue;
    }
    const auto query =
        hostsweep::mdns::ParsePtrQuery(std::span(datagram).first(static_cast<std::size_t>(length)));
    if (!query || query->name != ownName) {
      continue;
    }
    std::puts("asked");
    std::fflush(stdout);
    if (options.reply == "crafted") {
      const auto crafted = Crafted(*query);
      for (int i = 0; i < kCraftedCount; ++i) {
        SendTo(socket, peer, crafted);
      }
      continue;
    }
    if (options.reply == "flood") {
      for (const auto& hostile : Hostile(*query)) {
        SendTo(socket, peer, hostile);
      }
    }
    SendTo(answerSocket, peer, EncodePtrAnswer(*query, options.name));
  }
}

// A host's DNS-SD responder for the tests: the answers it writes, and its
// reading of our questions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "common/mdns_wire.h"
#include "controller/devices/dns_sd_message.h"

namespace hostsweep::controller {

struct FakeRecord {
  DnsName owner;
  std::uint16_t type;
  DnsName target{};
  std::vector<std::string> text{};
  Address address = 0;  // an A record's
};

inline std::vector<std::uint8_t> DnsSdAnswer(std::uint16_t id,
                                             const std::vector<FakeRecord>& answers,
                                             const std::vector<FakeRecord>& additional = {}) {
  using protocol::PutWord;
  std::vector<std::uint8_t> out;
  for (const std::uint16_t word :
       {id, std::uint16_t{0x8400}, std::uint16_t{0}, static_cast<std::uint16_t>(answers.size()),
        std::uint16_t{0}, static_cast<std::uint16_t>(additional.size())}) {
    PutWord(out, word);
  }
  for (const auto* section : {&answers, &additional}) {
    for (const auto& record : *section) {
      mdns::PutLabels(out, record.owner);
      PutWord(out, record.type);
      PutWord(out, mdns::kInternetClass);
      PutWord(out, 0);
      PutWord(out, 10);
      std::vector<std::uint8_t> data;
      if (record.type == kPtrRecord) {
        mdns::PutLabels(data, record.target);
      }
      if (record.type == kAddressRecord) {
        for (const int shift : {24, 16, 8, 0}) {
          data.push_back(static_cast<std::uint8_t>(record.address >> shift));
        }
      }
      for (const auto& text : record.text) {
        data.push_back(static_cast<std::uint8_t>(text.size()));
        data.insert(data.end(), text.begin(), text.end());
      }
      PutWord(out, static_cast<std::uint16_t>(data.size()));
      out.insert(out.end(), data.begin(), data.end());
    }
  }
  return out;
}

struct AskedQuestion {
  std::uint16_t id;
  DnsName name;
  std::uint16_t type;
};

inline std::optional<AskedQuestion> ReadQuestion(const std::vector<std::uint8_t>& request) {
  const auto header = mdns::ReadHeader(request);
  auto name = mdns::ReadLabels(request, mdns::kHeaderSize);
  if (!header || header->questions != 1 || !name || name->end + 4 > request.size()) {
    return std::nullopt;
  }
  return AskedQuestion{header->id, std::move(name->labels), protocol::WordAt(request, name->end)};
}

}  // namespace hostsweep::controller

#include "controller/link/arp_frame.h"

#include <algorithm>

namespace hostsweep::controller {
namespace {

constexpr std::uint16_t kEtherTypeArp = 0x0806;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint16_t kVlanIdBits = 0x0fff;
constexpr std::size_t kVlanTag = 4;
constexpr std::uint16_t kHardwareEthernet = 1;
constexpr std::uint16_t kProtocolIpv4 = 0x0800;
constexpr std::uint8_t kMacBytes = 6;
constexpr std::uint8_t kIpv4Bytes = 4;
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kArpBody = 28;
constexpr std::size_t kShortestFrame = 60;
constexpr unsigned kByte = 8;

class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
  void Mac(const MacAddress& mac) { out_.insert(out_.end(), mac.begin(), mac.end()); }
  void U16(std::uint16_t value) {
    out_.push_back(static_cast<std::uint8_t>(value >> kByte));
    out_.push_back(static_cast<std::uint8_t>(value));
  }
  void U32(std::uint32_t value) {
    U16(static_cast<std::uint16_t>(value >> (2 * kByte)));
    U16(static_cast<std::uint16_t>(value));
  }
  void Byte(std::uint8_t value) { out_.push_back(value); }

 private:
  std::vector<std::uint8_t>& out_;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
  MacAddress Mac() {
    MacAddress mac{};
    std::copy_n(in_.begin() + static_cast<std::ptrdiff_t>(at_), mac.size(), mac.begin());
    at_ += mac.size();
    return mac;
  }
  std::uint16_t U16() {
    const auto value = static_cast<std::uint16_t>(in_[at_] << kByte | in_[at_ + 1]);
    at_ += 2;
    return value;
  }
  std::uint32_t U32() {
    const std::uint32_t high = U16();
    return high << (2 * kByte) | U16();
  }
  std::uint8_t Byte() { return in_[at_++]; }
  void Skip(std::size_t bytes) { at_ += bytes; }

 private:
  std::span<const std::uint8_t> in_;
  std::size_t at_ = 0;
};

}  // namespace

std::vector<std::uint8_t> EncodeArpFrame(const ArpMessage& message, const MacAddress& destination,
                                         std::uint16_t vlan) {
  const std::size_t size = kShortestFrame + (vlan == kUntagged ? 0 : kVlanTag);
  std::vector<std::uint8_t> frame;
  frame.reserve(size);
  Writer out(frame);
  out.Mac(destination);
  out.Mac(message.senderMac);
  if (vlan != kUntagged) {
    out.U16(kEtherTypeVlan);
    out.U16(vlan & kVlanIdBits);
  }
  out.U16(kEtherTypeArp);
  out.U16(kHardwareEthernet);
  out.U16(kProtocolIpv4);
  out.Byte(kMacBytes);
  out.Byte(kIpv4Bytes);
  out.U16(static_cast<std::uint16_t>(message.operation));
  out.Mac(message.senderMac);
  out.U32(message.senderAddress);
  out.Mac(message.targetMac);
  out.U32(message.targetAddress);
  frame.resize(size, 0);
  return frame;
}

std::vector<std::uint8_t> EncodeArpRequest(const MacAddress& ourMac, Address ourAddress,
                                           Address target, std::uint16_t vlan) {
  return EncodeArpFrame({.operation = ArpOperation::kRequest,
                         .senderMac = ourMac,
                         .senderAddress = ourAddress,
                         .targetAddress = target},
                        kBroadcastMac, vlan);
}

std::uint16_t VlanOf(std::span<const std::uint8_t> frame) {
  if (frame.size() < kEthernetHeader + kVlanTag) {
    return kUntagged;
  }
  Reader in(frame);
  in.Skip(std::size_t{2} * kMacBytes);
  if (in.U16() != kEtherTypeVlan) {
    return kUntagged;
  }
  return in.U16() & kVlanIdBits;
}

std::optional<ArpMessage> DecodeArpFrame(std::span<const std::uint8_t> frame) {
  const std::size_t tag = VlanOf(frame) == kUntagged ? 0 : kVlanTag;
  if (frame.size() < kEthernetHeader + tag + kArpBody) {
    return std::nullopt;
  }
  Reader in(frame);
  in.Skip(kMacBytes);  // the destination
  const MacAddress source = in.Mac();
  in.Skip(tag);
  if (in.U16() != kEtherTypeArp || in.U16() != kHardwareEthernet || in.U16() != kProtocolIpv4 ||
      in.Byte() != kMacBytes || in.Byte() != kIpv4Bytes) {
    return std::nullopt;
  }
  const std::uint16_t operation = in.U16();
  if (operation != static_cast<std::uint16_t>(ArpOperation::kRequest) &&
      operation != static_cast<std::uint16_t>(ArpOperation::kReply)) {
    return std::nullopt;
  }
  ArpMessage message;
  message.operation = static_cast<ArpOperation>(operation);
  message.senderMac = in.Mac();
  message.senderAddress = in.U32();
  message.targetMac = in.Mac();
  message.targetAddress = in.U32();
  // A host's own frames come from the MAC they name. One that names another
  // speaks for a machine that did not send it: a forged or relayed answer.
  if (message.senderMac != source) {
    return std::nullopt;
  }
  return message;
}

bool AnswersOurRequest(const ArpMessage& message, Address asked, const MacAddress& ourMac,
                       Address ourAddress) {
  return message.operation == ArpOperation::kReply && message.senderAddress == asked &&
         message.senderAddress != message.targetAddress && message.targetAddress == ourAddress &&
         message.targetMac == ourMac;
}

}  // namespace hostsweep::controller

// The layout of a DNS message as both sides of an mDNS exchange read and
// write it: the header, names with their compression, the fields' values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/mdns.h"

namespace hostsweep::mdns {

inline constexpr std::uint16_t kPtrType = 12;
inline constexpr std::uint16_t kInternetClass = 1;
// The top bit of a question's class asks for a unicast response (RFC 6762
// 5.4); in a record's class it is the cache-flush bit (10.2).
inline constexpr std::uint16_t kClassTopBit = 0x8000;
inline constexpr std::uint16_t kResponseFlag = 0x8000;
inline constexpr std::uint16_t kOpcodeMask = 0x7800;
inline constexpr std::uint16_t kRcodeMask = 0x000F;
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::uint8_t kPointerBits = 0xC0;

struct Header {
  std::uint16_t id;
  std::uint16_t flags;
  std::uint16_t questions;
  std::uint16_t answers;
};

std::optional<Header> ReadHeader(std::span<const std::uint8_t> message);

struct Name {
  std::string text;
  std::size_t end;  // where the bytes after the name start
};

// A name label by label, for names whose labels may hold dots themselves
// (a DNS-SD instance: "Printer 2.1._ipp._tcp.local").
struct Labels {
  std::vector<std::string> labels;
  std::size_t end;
};

// The name at `offset` of `message`, compression pointers followed. Each
// pointer must point before itself, every label counts towards the 255-octet
// limit and every hop towards its own, so a hostile chain of pointers ends
// quickly.
std::optional<Name> ReadName(std::span<const std::uint8_t> message, std::size_t offset);
// The same, label by label.
std::optional<Labels> ReadLabels(std::span<const std::uint8_t> message, std::size_t offset);

// A resource record's fixed part: its owner label by label, its type and
// class, and where its data lies in the message. Nothing when the record does
// not fit the message.
struct RecordHead {
  Labels owner;
  std::uint16_t type;
  std::uint16_t recordClass;
  std::size_t dataStart;
  std::size_t dataEnd;
};

std::optional<RecordHead> ReadRecordHead(std::span<const std::uint8_t> message, std::size_t offset);

// "labprinter.local": the labels as a dotted name.
std::string JoinedLabels(const std::vector<std::string>& labels);

// `name` label by label; a label longer than DNS allows is split.
void PutName(std::vector<std::uint8_t>& out, std::string_view name);
// `labels` as they are, each cut to the length DNS allows.
void PutLabels(std::vector<std::uint8_t>& out, const std::vector<std::string>& labels);

// A header with one question and `answers` answers.
void PutHeader(std::vector<std::uint8_t>& out, std::uint16_t id, std::uint16_t flags,
               std::uint16_t answers);

}  // namespace hostsweep::mdns

#include "controller/leases/lease_file.h"

#include <algorithm>
#include <charconv>

#include "controller/base/printable.h"
#include "controller/leases/lease_formats.h"

namespace hostsweep::controller {
namespace {

using lease_formats::Lines;

constexpr std::size_t kLongestHostName = 253;

bool IsBinary(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 0x20 && c != '\t') || byte == 0x7f;
}

// The lines of `text`, each checked; a file whose last line has no end was
// cut short while it was written.
Lines SplitLines(std::string_view text) {
  Lines lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      throw LeaseFileError(lines.size() + 1, "cut short: the last line has no end");
    }
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (line.size() > kMostLeaseLineBytes) {
      throw LeaseFileError(lines.size() + 1,
                           "longer than " + std::to_string(kMostLeaseLineBytes) + " bytes");
    }
    if (std::any_of(line.begin(), line.end(), IsBinary)) {
      throw LeaseFileError(lines.size() + 1, "binary bytes");
    }
    lines.push_back(line);
  }
  return lines;
}

enum class Format { kNone, kDnsmasq, kIsc, kKea };

// Told by the first line that is not blank: Kea's header, dhcpd's comments
// and statements, or dnsmasq's expiry times (or its DUID line).
Format FormatOf(const Lines& lines) {
  for (std::size_t index = 0; index < lines.size(); ++index) {
    const auto words = lease_formats::Words(lines[index]);
    if (words.empty()) {
      continue;
    }
    const std::string_view first = words.front();
    if (first.starts_with("address,")) {
      return Format::kKea;
    }
    if (first.starts_with('#') || lines[index].find_first_of(";{") != std::string_view::npos) {
      return Format::kIsc;
    }
    if (first == "duid" || first.find_first_not_of("0123456789") == std::string_view::npos) {
      return Format::kDnsmasq;
    }
    if (first.find(',') != std::string_view::npos) {
      throw LeaseFileError(index + 1, "CSV without Kea's header line (address,hwaddr,...)");
    }
    throw LeaseFileError(index + 1, "neither dnsmasq's, dhcpd's nor Kea's lease file");
  }
  return Format::kNone;
}

}  // namespace

bool IsCurrent(const Lease& lease, std::int64_t now) {
  return lease.bound && (!lease.ends || *lease.ends > now);
}

std::vector<Lease> ParseLeaseFile(std::string_view text) {
  const Lines lines = SplitLines(text);
  switch (FormatOf(lines)) {
    case Format::kDnsmasq:
      return lease_formats::ReadDnsmasq(lines);
    case Format::kIsc:
      return lease_formats::ReadIsc(lines);
    case Format::kKea:
      return lease_formats::ReadKea(lines);
    case Format::kNone:
      break;
  }
  return {};
}

namespace lease_formats {

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  constexpr std::string_view kBlanks = " \t";
  for (std::size_t start = text.find_first_not_of(kBlanks); start != std::string_view::npos;) {
    const std::size_t end = std::min(text.find_first_of(kBlanks, start), text.size());
    words.push_back(text.substr(start, end - start));
    start = text.find_first_not_of(kBlanks, end);
  }
  return words;
}

std::string HostNameOf(std::string_view name) {
  if (name.ends_with('.')) {
    name.remove_suffix(1);
  }
  const bool allowed = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
  return allowed && name.size() <= kLongestHostName ? std::string(name) : std::string{};
}

std::optional<std::int64_t> WholeNumber(std::string_view text) {
  std::int64_t number = 0;
  const auto* end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data(), end, number);
  return error == std::errc{} && rest == end && number >= 0 ? std::optional(number) : std::nullopt;
}

std::int64_t LeaseNumber(std::string_view text, std::string_view what, std::size_t index) {
  const auto number = WholeNumber(text);
  if (!number) {
    throw LeaseFileError(index + 1, "bad " + std::string(what) + " \"" + Excerpt(text) + "\"");
  }
  return *number;
}

MacAddress LeaseMac(std::string_view text, std::size_t index) {
  const auto mac = ParseMac(text);
  if (!mac) {
    throw LeaseFileError(index + 1, "bad MAC \"" + Excerpt(text) + "\"");
  }
  return *mac;
}

Address LeaseAddress(std::string_view text, std::size_t index) {
  const auto address = ParseAddress(text);
  if (!address) {
    throw LeaseFileError(index + 1, "bad address \"" + Excerpt(text) + "\"");
  }
  return *address;
}

}  // namespace lease_formats
}  // namespace hostsweep::controller

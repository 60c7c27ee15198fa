#include "controller/targets/targets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>

#include "common/text.h"
#include "controller/base/errors.h"
#include "controller/base/printable.h"

namespace hostsweep::controller {
namespace {

constexpr unsigned kMostOctet = 255;

[[noreturn]] void Refuse(std::string_view target, const std::string& reason) {
  throw UsageError("bad target \"" + Excerpt(target) + "\": " + reason);
}

// Built by appending: GCC 12 at -O3 warns (-Wrestrict, a false alarm) where a
// literal is put in front of a temporary string.
[[noreturn]] void RefusePart(std::string_view target, std::string_view part,
                             std::string_view problem) {
  std::string reason = "\"";
  reason.append(Excerpt(part)).append("\" ").append(problem);
  Refuse(target, reason);
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

constexpr std::string_view kNotAnOctet = "is not an octet (0 to 255, no leading zeros)";

// The address `text` names, else refused with the part at fault.
Address AddressIn(std::string_view text, std::string_view target) {
  AddressFault fault;
  const auto address = ParseAddress(text, &fault);
  if (!address) {
    RefusePart(target, fault.part,
               fault.notDotted ? "is not a dotted-decimal IPv4 address" : kNotAnOctet);
  }
  return *address;
}

struct Span {
  Address first;
  Address last;
};

Span ParseRange(std::string_view target, std::size_t dash) {
  const Address first = AddressIn(target.substr(0, dash), target);
  const auto end = target.substr(dash + 1);
  Address last = 0;
  if (end.find('.') == std::string_view::npos) {
    const auto octet = ParseOctet(end);
    if (!octet) {
      RefusePart(target, end, kNotAnOctet);
    }
    last = (first & ~Address{kMostOctet}) | *octet;
  } else {
    last = AddressIn(end, target);
  }
  if (last < first) {
    Refuse(target, "the range runs backwards");
  }
  return {first, last};
}

Span ParseBlock(std::string_view target, std::size_t slash) {
  const Address base = AddressIn(target.substr(0, slash), target);
  const auto bits = ParseOctet(target.substr(slash + 1));
  if (!bits || *bits > static_cast<unsigned>(kAddressBits)) {
    Refuse(target, "the prefix length must be 0 to 32");
  }
  const int prefixLength = static_cast<int>(*bits);
  const Address first = base & NetworkMask(prefixLength);
  const Address last = first | ~NetworkMask(prefixLength);
  // As other scanners do, a block's network and broadcast addresses are not
  // swept; /31 and /32 have neither.
  if (prefixLength < kAddressBits - 1) {
    return {first + 1, last - 1};
  }
  return {first, last};
}

// The addresses one target names; refused when malformed or too large.
Span ParseTarget(std::string_view target) {
  Span span{};
  if (const auto slash = target.find('/'); slash != std::string_view::npos) {
    span = ParseBlock(target, slash);
  } else if (const auto dash = target.find('-'); dash != std::string_view::npos) {
    span = ParseRange(target, dash);
  } else {
    const Address address = AddressIn(target, target);
    span = {address, address};
  }
  const std::uint64_t count = std::uint64_t{span.last} - span.first + 1;
  if (count > kMostTargets) {
    Refuse(target, "names " + std::to_string(count) + " addresses; a sweep takes at most " +
                       std::to_string(kMostTargets));
  }
  return span;
}

void Append(Span span, std::vector<Address>& addresses) {
  for (std::uint64_t address = span.first; address <= span.last; ++address) {
    addresses.push_back(static_cast<Address>(address));
  }
}

// The addresses named so far, as disjoint spans keyed by their first address,
// so that a target naming them again costs a lookup, not an expansion.
class NamedSpans {
 public:
  // The parts of `span` not named before, in ascending order.
  [[nodiscard]] std::vector<Span> NewParts(Span span) const {
    std::vector<Span> parts;
    std::uint64_t next = span.first;
    auto named = spans_.upper_bound(span.first);
    if (named != spans_.begin() && std::prev(named)->second >= span.first) {
      --named;
    }
    for (; named != spans_.end() && named->first <= span.last; ++named) {
      if (named->first > next) {
        parts.push_back({static_cast<Address>(next), named->first - 1});
      }
      next = std::max<std::uint64_t>(next, std::uint64_t{named->second} + 1);
    }
    if (next <= span.last) {
      parts.push_back({static_cast<Address>(next), span.last});
    }
    return parts;
  }

  void Add(Span span) {
    auto named = spans_.upper_bound(span.first);
    if (named != spans_.begin() && std::uint64_t{std::prev(named)->second} + 1 >= span.first) {
      --named;
    }
    while (named != spans_.end() && named->first <= std::uint64_t{span.last} + 1) {
      span = {std::min(span.first, named->first), std::max(span.last, named->second)};
      named = spans_.erase(named);
    }
    spans_.emplace(span.first, span.last);
  }

 private:
  std::map<Address, Address> spans_;
};

}  // namespace

void ExpandTarget(std::string_view target, std::vector<Address>& addresses) {
  Append(ParseTarget(target), addresses);
}

std::vector<std::string> ReadTargetLines(std::istream& input) {
  std::vector<std::string> targets;
  std::string line;
  std::size_t lineNumber = 0;
  std::size_t total = 0;
  const auto finishLine = [&] {
    ++lineNumber;
    // Windows editors start a UTF-8 file with a byte-order mark.
    if (lineNumber == 1 && line.starts_with(kByteOrderMark)) {
      line.erase(0, kByteOrderMark.size());
    }
    const std::string_view target = Trim(std::string_view(line).substr(0, line.find('#')), " \t\r");
    if (!target.empty()) {
      targets.emplace_back(target);
    }
    line.clear();
  };
  for (auto in = std::istreambuf_iterator<char>(input); in != std::istreambuf_iterator<char>();
       ++in) {
    if (++total > kMostTargetFileBytes) {
      throw UsageError("longer than " + std::to_string(kMostTargetFileBytes) + " bytes");
    }
    if (*in == '\n') {
      finishLine();
    } else if (line.size() == kMostTargetLineBytes) {
      throw UsageError("line " + std::to_string(lineNumber + 1) + " is longer than " +
                       std::to_string(kMostTargetLineBytes) + " bytes");
    } else {
      line += *in;
    }
  }
  if (input.bad()) {
    throw UsageError(std::string("read error: ") + std::strerror(errno));
  }
  if (!line.empty()) {
    finishLine();
  }
  return targets;
}

std::vector<std::string> ReadTargetFile(const std::string& path) {
  const std::string named = "the target file \"" + Excerpt(path, kMostQuotedPath) + "\"";
  std::error_code error;
  if (path != "-" && std::filesystem::is_directory(path, error)) {
    throw UsageError(named + " is a directory");
  }
  std::ifstream file;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) {
      throw UsageError("cannot read " + named + ": " + std::strerror(errno));
    }
  }
  try {
    return ReadTargetLines(path == "-" ? std::cin : file);
  } catch (const UsageError& refused) {
    throw UsageError(named + ": " + refused.what());
  }
}

std::vector<Address> ExpandTargets(const std::vector<std::string>& targets) {
  std::vector<Address> unique;
  NamedSpans named;
  for (const auto& target : targets) {
    const Span span = ParseTarget(target);
    const auto parts = named.NewParts(span);
    std::uint64_t count = unique.size();
    for (const Span& part : parts) {
      count += std::uint64_t{part.last} - part.first + 1;
    }
    // Counted before anything is expanded: no target costs more than the cap.
    if (count > kMostTargets) {
      throw UsageError("the targets name more than " + std::to_string(kMostTargets) +
                       " addresses; split the sweep");
    }
    for (const Span& part : parts) {
      Append(part, unique);
    }
    named.Add(span);
  }
  if (unique.empty()) {
    throw UsageError("no targets given");
  }
  return unique;
}

}  // namespace hostsweep::controller

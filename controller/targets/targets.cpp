#include "controller/targets/targets.h"

#include <algorithm>
#include <cctype>
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

constexpr std::size_t kOctets = 4;

[[noreturn]] void Refuse(std::string_view target, const std::string& reason) {
  throw UsageError("bad target \"" + Excerpt(target) + "\": " + reason);
}

// What is wrong with one part of the target, or with all of it ("it").
// Built by appending: GCC 12 at -O3 warns (-Wrestrict, a false alarm) where a
// literal is put in front of a temporary string.
[[noreturn]] void RefusePart(std::string_view target, std::string_view part,
                             std::string_view problem) {
  std::string reason = "it ";
  if (part.size() != target.size()) {
    reason = "\"";
    reason.append(Excerpt(part)).append("\" ");
  }
  reason.append(problem);
  Refuse(target, reason);
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

constexpr std::string_view kNotAnOctet = "is not an octet (0 to 255, no leading zeros)";

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (auto end = text.find(separator); end != std::string_view::npos; end = text.find(separator)) {
    parts.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  parts.push_back(text);
  return parts;
}

std::string Octets(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " octet" : " octets");
}

unsigned OctetIn(std::string_view text, std::string_view target) {
  const auto octet = ParseOctet(text);
  if (!octet) {
    RefusePart(target, text, kNotAnOctet);
  }
  return *octet;
}

// The address `text` names, else refused in the terms of what is wrong with it:
// a bad octet, too few or too many octets, or no dotted address at all.
Address AddressIn(std::string_view text, std::string_view target) {
  if (const auto address = ParseAddress(text)) {
    return *address;
  }
  const auto parts = Split(text, '.');
  if (parts.size() == 1) {
    RefusePart(target, text, "is not an IPv4 address, range, block or host name");
  }
  for (const auto part : parts) {
    OctetIn(part, target);
  }
  RefusePart(target, text, "has " + Octets(parts.size()) + "; an IPv4 address has 4");
}

// Whether `target` is a host name: dot-separated labels of letters, digits,
// hyphens and underscores (which hosts files allow), with an optional final dot.
// A last label that is a number, or three numbers and a fourth part
// ("10.0.0.x", "10.0.0.1-5"), read as an address or range with a mistake.
bool IsHostName(std::string_view target) {
  constexpr std::size_t kMostName = 253;
  constexpr std::size_t kMostLabel = 63;
  if (target.ends_with('.')) {
    target.remove_suffix(1);
  }
  const auto labels = Split(target, '.');
  const auto isNumber = [](std::string_view label) {
    return std::all_of(label.begin(), label.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
  };
  const bool wellFormed =
      target.size() <= kMostName &&
      std::all_of(labels.begin(), labels.end(), [](std::string_view label) {
        return !label.empty() && label.size() <= kMostLabel && label.front() != '-' &&
               label.back() != '-' && std::all_of(label.begin(), label.end(), [](char c) {
                 return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
               });
      });
  const bool addressLike =
      labels.size() == kOctets && std::all_of(labels.begin(), labels.end() - 1, isNumber);
  return wellFormed && !isNumber(labels.back()) && !addressLike;
}

struct Span {
  Address first;
  Address last;
};

Span BlockSpan(Address base, int prefixLength) {
  const Address first = base & NetworkMask(prefixLength);
  const Address last = first | ~NetworkMask(prefixLength);
  // As other scanners do, a block's network and broadcast addresses are not
  // swept; /31 and /32 have neither.
  if (prefixLength < kAddressBits - 1) {
    return {first + 1, last - 1};
  }
  return {first, last};
}

Span ParseBlock(std::string_view target, std::size_t slash) {
  const Address base = AddressIn(target.substr(0, slash), target);
  const auto lengthText = target.substr(slash + 1);
  const auto bits = ParseOctet(lengthText);
  if (!bits || *bits > static_cast<unsigned>(kAddressBits)) {
    RefusePart(target, lengthText, "is not a prefix length (0 to 32)");
  }
  return BlockSpan(base, static_cast<int>(*bits));
}

// The parts of a target with a wildcard or a list: four, else refused with
// how the form is written.
std::vector<std::string_view> FourParts(std::string_view target, std::string_view form) {
  auto parts = Split(target, '.');
  if (parts.size() != kOctets) {
    Refuse(target, "it has " + Octets(parts.size()) + "; " + std::string(form));
  }
  return parts;
}

// "10.0.0.*" is the block 10.0.0.0/24, "10.0.*.*" 10.0.0.0/16.
Span ParseWildcard(std::string_view target) {
  constexpr std::string_view kForm = "a * stands for whole last octets: 10.0.0.*, 10.0.*.*";
  const auto parts = FourParts(target, kForm);
  const auto firstStar = static_cast<std::size_t>(
      std::find_if(parts.begin(), parts.end(),
                   [](std::string_view part) { return part.find('*') != std::string_view::npos; }) -
      parts.begin());
  Address base = 0;
  for (std::size_t i = 0; i < kOctets; ++i) {
    if (i >= firstStar && parts[i] != "*") {
      Refuse(target, std::string(kForm));
    }
    base = base << 8U | (i < firstStar ? OctetIn(parts[i], target) : 0);
  }
  return BlockSpan(base, static_cast<int>(firstStar) * 8);
}

// "10.0.0.1,5,7-9": last octets and ranges of them, in the order given.
std::vector<Span> ParseLastOctets(std::string_view target) {
  const auto parts = FourParts(target, "a list is of last octets: 10.0.0.1,5,7-9");
  Address network = 0;
  for (std::size_t i = 0; i + 1 < kOctets; ++i) {
    network = network << 8U | OctetIn(parts[i], target);
  }
  network <<= 8U;
  std::vector<Span> spans;
  for (const auto item : Split(parts.back(), ',')) {
    const auto dash = item.find('-');
    const unsigned first = OctetIn(item.substr(0, dash), target);
    const unsigned last =
        dash == std::string_view::npos ? first : OctetIn(item.substr(dash + 1), target);
    if (last < first) {
      RefusePart(target, item, "runs backwards");
    }
    spans.push_back({network | first, network | last});
  }
  return spans;
}

Span ParseRange(std::string_view target, std::size_t dash) {
  const Address first = AddressIn(target.substr(0, dash), target);
  const Address last = AddressIn(target.substr(dash + 1), target);
  if (last < first) {
    Refuse(target, "the range runs backwards");
  }
  return {first, last};
}

// The addresses one target names, in the order it names them; refused when
// malformed or too large. Host names are looked up through `resolve`.
std::vector<Span> ParseTarget(std::string_view target, const HostResolver& resolve) {
  std::vector<Span> spans;
  const auto dash = target.find('-');
  if (IsHostName(target)) {
    const auto lookup = resolve(std::string(target));
    if (!lookup.address) {
      Refuse(target, lookup.failure);
    }
    spans = {{*lookup.address, *lookup.address}};
  } else if (const auto slash = target.find('/'); slash != std::string_view::npos) {
    spans = {ParseBlock(target, slash)};
  } else if (target.find('*') != std::string_view::npos) {
    spans = {ParseWildcard(target)};
  } else if (target.find(',') != std::string_view::npos ||
             (dash != std::string_view::npos && target.find('.', dash) == std::string_view::npos)) {
    spans = ParseLastOctets(target);
  } else if (dash != std::string_view::npos) {
    spans = {ParseRange(target, dash)};
  } else {
    const Address address = AddressIn(target, target);
    spans = {{address, address}};
  }
  std::uint64_t count = 0;
  for (const Span& span : spans) {
    count += std::uint64_t{span.last} - span.first + 1;
  }
  if (count > kMostTargets) {
    Refuse(target, "names " + std::to_string(count) + " addresses; a sweep takes at most " +
                       std::to_string(kMostTargets));
  }
  return spans;
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

void ExpandTarget(std::string_view target, std::vector<Address>& addresses,
                  const HostResolver& resolve) {
  for (const Span& span : ParseTarget(target, resolve)) {
    Append(span, addresses);
  }
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

std::vector<Address> ExpandTargets(const std::vector<std::string>& targets,
                                   const HostResolver& resolve, std::ostream& notices) {
  std::vector<Address> unique;
  NamedSpans named;
  // A name a file repeats is looked up once, and said once if it has no
  // address: the resolver may be slow DNS.
  std::map<std::string, HostLookup, std::less<>> lookups;
  const HostResolver resolveOnce = [&](const std::string& name) {
    auto known = lookups.find(name);
    if (known == lookups.end()) {
      known = lookups.emplace(name, resolve(name)).first;
      if (!known->second.address) {
        notices << "hostsweep: skipping \"" << Excerpt(name) << "\": " << known->second.failure
                << "\n";
      }
    }
    return known->second;
  };
  bool skipped = false;
  for (const auto& target : targets) {
    // One mistyped name costs its own target, not the sweep of the others.
    if (IsHostName(target) && !resolveOnce(target).address) {
      skipped = true;
      continue;
    }
    for (const Span& span : ParseTarget(target, resolveOnce)) {
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
  }
  if (unique.empty()) {
    throw UsageError(skipped ? "nothing left to sweep: no host name given resolves"
                             : "no targets given");
  }
  return unique;
}

}  // namespace hostsweep::controller

#include "controller/devices/device_rules.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

#include "controller/base/errors.h"
#include "controller/base/regular_file.h"
#include "controller/devices/ascii_text.h"

namespace hostsweep::controller {
namespace {

constexpr std::string_view kNone = "-";
constexpr std::string_view kValue = "$";
constexpr std::string_view kAnd = " & ";
constexpr std::size_t kFields = 5;
// Far more than a table of rules needs; a file larger is not one.
constexpr std::size_t kMostRulesBytes = 1 << 20;

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const auto at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) {
      return parts;
    }
    text.remove_prefix(at + separator.size());
  }
}

TypeSource SourceOf(std::string_view key) {
  const auto source = key.substr(0, key.find(':'));
  for (const auto& [value, text] : kTypeSourceTexts) {
    if (source == text) {
      return value;
    }
  }
  return TypeSource::kNone;
}

}  // namespace

bool MatchesPattern(std::string_view value, std::string_view pattern) {
  // Greedy with one point to return to: each "*" is tried as short as it can
  // be, and grown only when what follows fails, so no pattern costs more than
  // value length times pattern length.
  std::size_t v = 0;
  std::size_t p = 0;
  std::optional<std::pair<std::size_t, std::size_t>> star;
  while (v < value.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = {p++, v};
    } else if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(value[v])) {
      ++p;
      ++v;
    } else if (star) {
      p = star->first + 1;
      v = ++star->second;
    } else {
      return false;
    }
  }
  return std::all_of(pattern.begin() + static_cast<std::ptrdiff_t>(p), pattern.end(),
                     [](char c) { return c == '*'; });
}

DeviceRules DeviceRules::Parse(std::string_view table) {
  DeviceRules rules;
  int lineNumber = 0;
  for (auto line : Split(table, "\n")) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty() || line.front() == '#') {
      continue;
    }
    const auto fields = Split(line, "\t");
    const auto fail = [lineNumber](std::string_view why) {
      throw UsageError("line " + std::to_string(lineNumber) + ": " + std::string(why));
    };
    if (fields.size() != kFields) {
      fail("not five tab-separated fields");
    }
    Rule rule{};
    const auto* end = fields[0].data() + fields[0].size();
    if (const auto [rest, error] = std::from_chars(fields[0].data(), end, rule.priority);
        error != std::errc{} || rest != end) {
      fail("the priority is not a number");
    }
    for (const auto condition : Split(fields[1], kAnd)) {
      const auto equals = condition.find('=');
      if (equals == std::string_view::npos || SourceOf(condition) == TypeSource::kNone) {
        fail("a condition is not source:key=pattern");
      }
      rule.conditions.push_back(
          {std::string(condition.substr(0, equals)), std::string(condition.substr(equals + 1))});
    }
    const std::array<std::string*, 3> outputs{&rule.type, &rule.make, &rule.model};
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      *outputs[i] = fields[2 + i] == kNone ? "" : std::string(fields[2 + i]);
    }
    if (rule.type == kValue) {
      fail("a type is named, never taken from the device");
    }
    rules.rules_.push_back(std::move(rule));
  }
  return rules;
}

DeviceFacts DeviceRules::Apply(const std::vector<Announcement>& said) const {
  const auto meets = [&said](const Condition& condition) -> const Announcement* {
    const auto found = std::find_if(said.begin(), said.end(), [&](const Announcement& a) {
      return SameText(a.key, condition.key) && MatchesPattern(a.value, condition.pattern);
    });
    return found == said.end() ? nullptr : &*found;
  };
  DeviceFacts facts;
  std::array<int, 3> priority{};
  std::array<bool, 3> given{};
  for (const Rule& rule : rules_) {
    const Announcement* first = meets(rule.conditions.front());
    if (first == nullptr || !std::all_of(rule.conditions.begin() + 1, rule.conditions.end(),
                                         [&](const Condition& c) { return meets(c) != nullptr; })) {
      continue;
    }
    const std::array<std::pair<const std::string*, std::string*>, 3> fields{
        {{&rule.type, &facts.type}, {&rule.make, &facts.make}, {&rule.model, &facts.model}}};
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string& value = *fields[i].first == kValue ? first->value : *fields[i].first;
      if (value.empty() || (given[i] && rule.priority <= priority[i])) {
        continue;
      }
      *fields[i].second = value;
      priority[i] = rule.priority;
      given[i] = true;
      if (i == 0) {
        facts.typeFrom = SourceOf(rule.conditions.front().key);
      }
    }
  }
  return facts;
}

std::optional<DeviceRules> ReadDeviceRules(const std::filesystem::path& path,
                                           std::ostream& diagnostics) {
  std::string bytes;
  std::string problem = "missing";
  try {
    if (ReadRegularFile(path, kMostRulesBytes, bytes, problem) == FileRead::kRead) {
      return DeviceRules::Parse(bytes);
    }
  } catch (const UsageError& error) {
    problem = error.what();
  }
  diagnostics << "hostsweep: warning: device rules " << path.string() << ": " << problem
              << "; no host is asked what device it is\n";
  return std::nullopt;
}

}  // namespace hostsweep::controller

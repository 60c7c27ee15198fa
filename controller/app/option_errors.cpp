#include "controller/app/option_errors.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

#include "controller/base/printable.h"

namespace hostsweep::controller {
namespace {

// Edits (a letter added, left out, changed, or two neighbours swapped) that
// turn `from` into `to`.
std::size_t EditDistance(std::string_view from, std::string_view to) {
  std::vector<std::vector<std::size_t>> edits(from.size() + 1,
                                              std::vector<std::size_t>(to.size() + 1));
  for (std::size_t i = 0; i <= from.size(); ++i) {
    for (std::size_t j = 0; j <= to.size(); ++j) {
      if (i == 0 || j == 0) {
        edits[i][j] = i + j;
        continue;
      }
      edits[i][j] = std::min({edits[i - 1][j] + 1, edits[i][j - 1] + 1,
                              edits[i - 1][j - 1] + (from[i - 1] == to[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && from[i - 1] == to[j - 2] && from[i - 2] == to[j - 1]) {
        edits[i][j] = std::min(edits[i][j], edits[i - 2][j - 2] + 1);
      }
    }
  }
  return edits[from.size()][to.size()];
}

}  // namespace

std::optional<std::string> NearestOption(const CLI::App& app, std::string_view typed) {
  typed = typed.substr(0, typed.find('='));
  typed.remove_prefix(std::min(typed.find_first_not_of('-'), typed.size()));
  // Short words are near too many others to guess from.
  constexpr std::size_t kLongWord = 6;
  constexpr std::size_t kShortestStart = 3;
  const std::size_t mostEdits = typed.size() >= kLongWord ? 2 : 1;
  std::optional<std::string> nearest;
  std::size_t fewest = mostEdits + 1;
  std::vector<std::string> startingSo;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) {
      const std::size_t edits = EditDistance(typed, name);
      if (edits < fewest) {
        fewest = edits;
        nearest = "--" + name;
      }
      if (typed.size() >= kShortestStart && name.starts_with(typed)) {
        startingSo.push_back("--" + name);
      }
    }
  }
  if (!nearest && startingSo.size() == 1) {
    nearest = startingSo.front();
  }
  return nearest;
}

std::string UsageMessage(const CLI::App& app, const CLI::ParseError& error) {
  const std::string text = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && !app.remaining().empty()) {
    const std::string unknown = app.remaining().front();
    std::string message = "unknown option " + Excerpt(unknown);
    if (const auto meant = NearestOption(app, unknown)) {
      message += "; did you mean " + *meant + "?";
    }
    return message;
  }
  // "--jobs: 1 required N missing": the option came last, or another option
  // followed it.
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    return text.substr(0, text.find(':')) + " needs a value";
  }
  std::string message = text;
  if (!message.empty()) {
    message.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(message.front())));
  }
  return message;
}

std::string NotAnInterval(std::string_view given) {
  const std::string quoted = "\"" + Excerpt(given) + "\"";
  const auto digits = given.substr(0, given.empty() ? 0 : given.size() - 1);
  const bool numberAndUnit = !digits.empty() &&
                             digits.find_first_not_of("0123456789") == std::string_view::npos &&
                             std::string_view("smh").find(given.back()) != std::string_view::npos;
  if (numberAndUnit) {
    return "--watch: " + quoted + " is not an interval from 1s to 24h";
  }
  return "--watch: the interval is missing or not a duration: " + quoted +
         " was given (it comes first, a number and s, m or h: --watch 5m TARGETS)";
}

CLI::Validator WholeNumber(unsigned long long least, unsigned long long most) {
  return {[least, most](std::string& text) {
            unsigned long long value = 0;
            const char* end = text.data() + text.size();
            const auto [rest, error] = std::from_chars(text.data(), end, value);
            if (error == std::errc{} && rest == end && value >= least && value <= most) {
              return std::string();
            }
            return "\"" + Excerpt(text) + "\" is not a whole number from " + std::to_string(least) +
                   " to " + std::to_string(most);
          },
          ""};
}

}  // namespace hostsweep::controller

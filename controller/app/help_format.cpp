#include "controller/app/help_format.h"

#include <sstream>

namespace hostsweep::controller {
namespace {

constexpr std::size_t kHelpWidth = 80;
constexpr std::size_t kNameColumn = 22;

// `text` with its spaces turned into line breaks where a line would pass
// `width`; CLI11 indents each line after a break to the description column.
std::string Wrapped(const std::string& text, std::size_t width) {
  std::string wrapped;
  std::size_t lineStart = 0;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!wrapped.empty()) {
      const bool fits = wrapped.size() - lineStart + 1 + word.size() <= width;
      wrapped += fits ? ' ' : '\n';
      lineStart = fits ? lineStart : wrapped.size();
    }
    wrapped += word;
  }
  return wrapped;
}

}  // namespace

HelpFormatter::HelpFormatter(std::vector<std::string> synopses, std::vector<OptionAlias> aliases)
    : synopses_(std::move(synopses)), aliases_(std::move(aliases)) {
  column_width(kNameColumn);
}

// The targets' hidden group ends the list of groups, and CLI11 puts a blank
// line after every group but the last: one blank line before the footer.
std::string HelpFormatter::make_help(const CLI::App* app, std::string name,
                                     CLI::AppFormatMode mode) const {
  std::string help = CLI::Formatter::make_help(app, std::move(name), mode);
  if (const auto gap = help.find("\n\n\n"); gap != std::string::npos) {
    help.erase(gap, 1);
  }
  return help;
}

// As GNU programs write them, which help2man makes the manual's SYNOPSIS.
std::string HelpFormatter::make_usage(const CLI::App* /*app*/, std::string name) const {
  std::string usage;
  for (const auto& synopsis : synopses_) {
    usage.append(usage.empty() ? "Usage: " : "  or:  ").append(name).append(" ");
    usage.append(synopsis).append("\n");
  }
  return usage;
}

std::string HelpFormatter::make_option(const CLI::Option* option, bool isPositional) const {
  std::ostringstream out;
  CLI::detail::format_help(out, make_option_name(option, isPositional) + make_option_opts(option),
                           Wrapped(make_option_desc(option), kHelpWidth - kNameColumn),
                           kNameColumn);
  return out.str();
}

std::string HelpFormatter::make_option_name(const CLI::Option* option, bool isPositional) const {
  std::string names = CLI::Formatter::make_option_name(option, isPositional);
  for (const auto& [alias, name] : aliases_) {
    if (option->check_name(name)) {
      names.insert(0, std::string(alias) + ",");
    }
  }
  return names;
}

// The value's name alone: ranges and defaults are in the description, in
// words, and which options exclude which is said when they are given together.
std::string HelpFormatter::make_option_opts(const CLI::Option* option) const {
  if (option->get_type_size() == 0) {
    return {};
  }
  const std::string type = option->get_type_name();
  return " " + type.substr(0, type.find(':'));
}

}  // namespace hostsweep::controller

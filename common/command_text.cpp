#include "common/command_text.h"

namespace hostsweep {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

ProgramPath SplitProgramPath(std::string_view path) {
  const std::size_t separator = path.rfind('\\');
  std::string_view file = path;
  ProgramPath result;
  if (separator != std::string_view::npos) {
    result.folder = path.substr(0, separator);
    if (result.folder.ends_with(':')) {
      result.folder += '\\';
    }
    file = path.substr(separator + 1);
  }
  result.name = file.substr(0, file.rfind('.'));
  return result;
}

std::string ProgramCommandText(std::string_view folder, std::string_view name,
                               std::string_view arguments) {
  std::string text = "\"";
  text += folder;
  if (!folder.ends_with('\\')) {
    text += '\\';
  }
  text += name;
  text += ".exe\" ";
  text += arguments;
  return text;
}

std::string_view ArgumentTextOf(std::string_view commandLine) {
  std::size_t at = 0;
  if (commandLine.starts_with('"')) {
    const std::size_t closing = commandLine.find('"', 1);
    at = closing == std::string_view::npos ? commandLine.size() : closing + 1;
  } else {
    while (at < commandLine.size() && !IsBlank(commandLine[at])) {
      ++at;
    }
  }
  while (at < commandLine.size() && IsBlank(commandLine[at])) {
    ++at;
  }
  return commandLine.substr(at);
}

}  // namespace hostsweep

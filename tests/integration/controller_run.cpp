#include "tests/integration/controller_run.h"

#include <algorithm>
#include <csignal>
#include <sstream>
#include <utility>

namespace hostsweep::testing {

std::string ControllerPath() { return HOSTSWEEP_CONTROLLER_PATH; }

std::vector<std::string> ControllerCommand(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{ControllerPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

ControllerRun RunController(const std::vector<std::string>& arguments, Interrupt interrupt) {
  ChildProcess controller(ControllerCommand(arguments));
  bool interrupted = false;
  return controller.Finish([&](const ProcessResult& sofar) {
    if (interrupt == Interrupt::kAfterFirstRow && !interrupted &&
        std::count(sofar.standardOutput.begin(), sofar.standardOutput.end(), '\n') >= 2) {
      kill(controller.pid(), SIGINT);
      interrupted = true;
    }
  });
}

std::map<std::string, nlohmann::json> JsonByAddress(const std::string& output) {
  std::map<std::string, nlohmann::json> objects;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto object = nlohmann::json::parse(line);
    objects[object.at("address")] = object;
  }
  return objects;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      record.push_back(std::exchange(field, {}));
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      continue;
    } else if (c == '\n') {
      record.push_back(std::exchange(field, {}));
      records.push_back(std::exchange(record, {}));
    } else {
      field += c;
    }
  }
  return records;
}

}  // namespace hostsweep::testing

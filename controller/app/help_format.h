// How --help lays the command out: usage lines of our own, each option with
// the name of its value alone (N, FILE), its description wrapped to 80
// columns, and the aliases the command line takes beside CLI11's own names
// (nmap's -oX).
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <utility>
#include <vector>

namespace hostsweep::controller {

// An argument the command line reads as another ("-oX" as "--xml"), for
// spellings CLI11 cannot take as names.
struct OptionAlias {
  const char* alias;
  const char* name;
};

class HelpFormatter : public CLI::Formatter {
 public:
  // `synopses`: the ways to call the program, each after its name.
  HelpFormatter(std::vector<std::string> synopses, std::vector<OptionAlias> aliases);

  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;
  std::string make_usage(const CLI::App* app, std::string name) const override;
  std::string make_option(const CLI::Option* option, bool isPositional) const override;
  std::string make_option_name(const CLI::Option* option, bool isPositional) const override;
  std::string make_option_opts(const CLI::Option* option) const override;

 private:
  std::vector<std::string> synopses_;
  std::vector<OptionAlias> aliases_;
};

}  // namespace hostsweep::controller

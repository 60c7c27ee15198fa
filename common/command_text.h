// How a worker's request line travels to a successor on Windows: the command
// text that starts the successor, and how the successor finds its argument text
// again in its own command line. Kept free of Windows calls so that both halves
// can be checked on any system.
#pragma once

#include <string>
#include <string_view>

namespace hostsweep {

// The folder and the file name without extension of a program file.
struct ProgramPath {
  std::string folder;
  std::string name;
};

// Splits a full program file path such as "C:\Tools\worker.exe" into the folder
// "C:\Tools" and the name "worker". A program at a drive root keeps the "\" of
// the root in its folder ("C:\"), as the system writes a root folder.
ProgramPath SplitProgramPath(std::string_view path);

// "\"<folder>\<name>.exe\" <arguments>": a "\" joins folder and name unless the
// folder already ends in one. The program path is quoted: unquoted, a folder
// with a space in it lets the system start a different program, the one named
// by the path up to the space.
std::string ProgramCommandText(std::string_view folder, std::string_view name,
                               std::string_view arguments);

// The argument text of a command line: what follows the program path and the
// blanks after it. The path runs to its closing quote when it starts with one,
// otherwise to the first blank, as the system's own start-up code reads it.
std::string_view ArgumentTextOf(std::string_view commandLine);

}  // namespace hostsweep

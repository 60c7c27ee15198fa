// Where the results go besides the chosen format: the files --xml and --html
// name, or standard output in the format's place when either names "-".
#pragma once

#include <cstddef>
#include <ext/stdio_filebuf.h>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "controller/app/options.h"
#include "controller/output/result_stream.h"
#include "controller/output/sweep_run.h"

namespace hostsweep::controller {

struct ResultFile {
  // Takes `fd`, open for writing.
  ResultFile(std::string path, int fd);
  // Writes out what is buffered and closes; `stream` fails if that does.
  void Close();

  std::string path;
  __gnu_cxx::stdio_filebuf<char> buffer;
  std::ostream stream;
  std::unique_ptr<ResultWriter> writer;
};

// Opened before anything starts: a file that cannot be created throws
// UsageError, rather than a sweep whose results would be lost at its end;
// another user's symlink that may not be followed (OpenForWriting) throws
// SystemError.
std::vector<std::unique_ptr<ResultFile>> OpenResultFiles(const Options& options,
                                                         const SweepRun& run);

// XML or HTML when it was given "-", else the chosen format; the table sized
// to `tableWidth` when standard output is a terminal that wide.
std::unique_ptr<ResultWriter> StandardOutputWriter(const Options& options, std::ostream& out,
                                                   const SweepRun& run,
                                                   std::optional<std::size_t> tableWidth);

// The first file a write failed on (a full disk, an I/O error), or null.
const ResultFile* FailedFile(const std::vector<std::unique_ptr<ResultFile>>& files);

}  // namespace hostsweep::controller

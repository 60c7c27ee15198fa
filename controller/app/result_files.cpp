#include "controller/app/result_files.h"

#include <array>
#include <ios>
#include <string>
#include <utility>

#include "controller/base/errors.h"
#include "controller/base/regular_file.h"
#include "controller/output/result_writer.h"

namespace hostsweep::controller {
namespace {

std::unique_ptr<ResultFile> OpenResultFile(const std::string& path) {
  int fd = -1;
  std::string problem;
  switch (OpenForWriting(path, fd, problem)) {
    case FileWrite::kOpened:
      return std::make_unique<ResultFile>(path, fd);
    case FileWrite::kPlantedLink:
      throw SystemError("will not write " + path + ": " + problem);
    case FileWrite::kFailed:
      break;
  }
  throw UsageError("cannot write " + path + ": " + problem);
}

// The formats written to the files their options name, or to standard output
// in the chosen format's place where one names "-".
std::array<std::pair<const std::string&, std::string_view>, 2> FileFormats(const Options& options) {
  return {{{options.xmlFile, "xml"}, {options.htmlFile, "html"}}};
}

WriterSettings Settings(const Options& options, const SweepRun& run,
                        std::optional<std::size_t> tableWidth) {
  return {.terminalWidth = tableWidth,
          .extra = {.ipv6 = options.ipv6,
                    .change = !options.compareFile.empty() || !options.stateFile.empty(),
                    .known = !options.knownFile.empty()},
          .run = run};
}

}  // namespace

ResultFile::ResultFile(std::string path, int fd)
    : path(std::move(path)), buffer(fd, std::ios::out | std::ios::binary), stream(&buffer) {}

void ResultFile::Close() {
  if (buffer.close() == nullptr) {
    stream.setstate(std::ios::failbit);
  }
}

std::vector<std::unique_ptr<ResultFile>> OpenResultFiles(const Options& options,
                                                         const SweepRun& run) {
  std::vector<std::unique_ptr<ResultFile>> files;
  for (const auto& [path, format] : FileFormats(options)) {
    if (!path.empty() && path != "-") {
      files.push_back(OpenResultFile(path));
      files.back()->writer =
          FormatNamed(format).make(files.back()->stream, Settings(options, run, std::nullopt));
    }
  }
  return files;
}

std::unique_ptr<ResultWriter> StandardOutputWriter(const Options& options, std::ostream& out,
                                                   const SweepRun& run,
                                                   std::optional<std::size_t> tableWidth) {
  std::string_view format = TextOf(kFormatNames, options.format);
  for (const auto& [path, fileFormat] : FileFormats(options)) {
    format = path == "-" ? fileFormat : format;
  }
  return FormatNamed(format).make(out, Settings(options, run, tableWidth));
}

const ResultFile* FailedFile(const std::vector<std::unique_ptr<ResultFile>>& files) {
  for (const auto& file : files) {
    if (!file->stream) {
      return file.get();
    }
  }
  return nullptr;
}

}  // namespace hostsweep::controller

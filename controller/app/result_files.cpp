#include "controller/app/result_files.h"

#include <ios>
#include <string>
#include <utility>

#include "controller/base/errors.h"
#include "controller/base/regular_file.h"
#include "controller/output/html_output.h"
#include "controller/output/xml_output.h"

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
  if (!options.xmlFile.empty() && options.xmlFile != "-") {
    files.push_back(OpenResultFile(options.xmlFile));
    files.back()->writer = MakeXmlWriter(files.back()->stream, run);
  }
  if (!options.htmlFile.empty() && options.htmlFile != "-") {
    files.push_back(OpenResultFile(options.htmlFile));
    files.back()->writer = MakeHtmlWriter(files.back()->stream, run);
  }
  return files;
}

std::unique_ptr<ResultWriter> StandardOutputWriter(const Options& options, std::ostream& out,
                                                   const SweepRun& run,
                                                   std::optional<std::size_t> tableWidth) {
  if (options.xmlFile == "-") {
    return MakeXmlWriter(out, run);
  }
  if (options.htmlFile == "-") {
    return MakeHtmlWriter(out, run);
  }
  return MakeWriter(options.format, out, tableWidth,
                    {.ipv6 = options.ipv6,
                     .change = !options.compareFile.empty() || !options.stateFile.empty(),
                     .known = !options.knownFile.empty()});
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

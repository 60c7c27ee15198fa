#include "controller/app/result_files.h"

#include <cerrno>
#include <cstring>

#include "controller/base/errors.h"
#include "controller/output/html_output.h"
#include "controller/output/xml_output.h"

namespace hostsweep::controller {
namespace {

std::unique_ptr<ResultFile> OpenResultFile(const std::string& path) {
  auto file = std::make_unique<ResultFile>();
  file->path = path;
  file->stream.open(path, std::ios::binary | std::ios::trunc);
  if (!file->stream) {
    throw UsageError("cannot write " + path + ": " + std::strerror(errno));
  }
  return file;
}

}  // namespace

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
                    {.ipv6 = options.ipv6, .change = !options.compareFile.empty()});
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

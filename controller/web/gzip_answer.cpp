#include "controller/web/gzip_answer.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>

#include "common/text.h"

namespace hostsweep::controller {
namespace {

// HTTP's optional white space around a list's items and parameters.
std::string_view Trimmed(std::string_view text) { return Trim(text, " \t"); }

bool SameLetters(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// A weight of zero ("q=0", "q=0.000") refuses the coding.
bool Refused(std::string_view parameters) {
  while (!parameters.empty()) {
    const auto semicolon = parameters.find(';');
    const std::string_view parameter = Trimmed(parameters.substr(0, semicolon));
    parameters = semicolon == std::string_view::npos ? "" : parameters.substr(semicolon + 1);
    if (parameter.size() >= 2 && SameLetters(parameter.substr(0, 2), "q=")) {
      return Trimmed(parameter.substr(2)).find_first_not_of("0.") == std::string_view::npos;
    }
  }
  return false;
}

}  // namespace

bool AcceptsGzip(std::string_view acceptEncoding) {
  while (!acceptEncoding.empty()) {
    const auto comma = acceptEncoding.find(',');
    const std::string_view coding = acceptEncoding.substr(0, comma);
    acceptEncoding = comma == std::string_view::npos ? "" : acceptEncoding.substr(comma + 1);
    const auto semicolon = coding.find(';');
    const std::string_view name = Trimmed(coding.substr(0, semicolon));
    if ((SameLetters(name, "gzip") || name == "*") &&
        !(semicolon != std::string_view::npos && Refused(coding.substr(semicolon + 1)))) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> Gzipped(std::string_view body) {
  z_stream stream{};
  // 15 bits of window, +16 for a gzip header and trailer.
  constexpr int kGzipWindow = 15 + 16;
  constexpr int kMemoryLevel = 8;
  if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, kGzipWindow, kMemoryLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    return std::nullopt;
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(body.size())), '\0');
  // zlib's interface takes no const input; it only reads it.
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  stream.avail_in = static_cast<uInt>(body.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    return std::nullopt;
  }
  return out;
}

}  // namespace hostsweep::controller

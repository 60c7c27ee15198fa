// The dashboard's large answers (the device list: 3.4 MB for 10 000
// devices) gzipped at zlib's quickest level: some 120 KB, in a few tens of
// milliseconds. The HTTP library's own compression prefers brotli at its
// slowest quality whenever a browser offers it (over HTTPS), 20 s for that
// list, so JSON is kept from it and compressed here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostsweep::controller {

// Whether an Accept-Encoding header's value takes gzip: named (or "*")
// without q=0.
bool AcceptsGzip(std::string_view acceptEncoding);

// `body` as a gzip member; none if zlib fails.
std::optional<std::string> Gzipped(std::string_view body);

}  // namespace hostsweep::controller

// What the lab's tests read our XML and HTML files with: nmap's DTD through
// xmllint, XPath, and a headless browser. Each program may be missing: a test
// asks Missing() first and skips, naming the package.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/integration/harness.h"

namespace hostsweep::testing {

inline constexpr const char* kDtd = "/usr/share/nmap/nmap.dtd";
inline constexpr const char* kStylesheet = "/usr/share/nmap/nmap.xsl";

// This run's files, removed when the test program ends.
std::filesystem::path WorkFolder();
std::string ReadFile(const std::filesystem::path& path);

// Nothing when every file is there, else which package to install.
std::optional<std::string> Missing(const std::vector<std::pair<const char*, const char*>>& needs);

// For pages: a failure names what is missing, not the whole page.
bool Holds(const std::string& page, const std::string& text);

// xmllint's reading of an XPath string expression on `file`.
std::string XPath(const std::filesystem::path& file, const std::string& expression);

// Valid against nmap's DTD, its scanner attribute widened to let ours in:
// the one departure from it, which this checks is the only one.
void ExpectValid(const std::filesystem::path& xml);

// The page as a 1280 by 800 browser window holds it once its scripts ran.
ProcessResult BrowserDom(const std::filesystem::path& page);
// The same of a page at `url` (in the lab's namespace), in a window `width`
// pixels wide, its script given `budget` milliseconds of virtual time.
ProcessResult BrowserDomAt(const std::string& url, int width, int budget);
// A 1280 by 900 window's picture of the page at `url`, written to `png`.
ProcessResult BrowserScreenshot(const std::string& url, const std::filesystem::path& png,
                                int budget);

}  // namespace hostsweep::testing

// Text that came from outside (host names, worker messages, target files) made
// safe to show: nothing in it may steer a terminal or a spreadsheet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <streambuf>
#include <string>
#include <string_view>

namespace hostsweep::controller {

// The one rule for every output: each control character (C0, DEL, C1, whether
// UTF-8 encoded or a lone byte), each bidirectional formatting character and
// the byte-order mark (U+FEFF) is replaced by what `replacement` gives for its
// code point (a lone byte's is its value). Other bytes, valid UTF-8 or not,
// are kept: names arrive in the system's code page.
std::string ReplaceControls(std::string_view text,
                            const std::function<std::string(std::uint32_t)>& replacement);

// ReplaceControls() with one '?' for each.
std::string Printable(std::string_view text);

// `text` with every byte that is not part of valid UTF-8 (and U+FFFE, U+FFFF)
// replaced by U+FFFD, for formats that must be UTF-8: XML and HTML.
std::string ValidUtf8(std::string_view text);

// Terminal columns `text` takes, one per character (every byte that starts
// one): the table and the watch line up their columns by it.
std::size_t DisplayWidth(std::string_view text);

// Printable() of at most the first `most` bytes of `text`, with "..." when cut.
std::string Excerpt(std::string_view text, std::size_t most = 40);
// How much of a file's path a message quotes.
inline constexpr std::size_t kMostQuotedPath = 200;

// Passes Printable() lines on to `target`: whatever a message quotes, nothing
// steers the terminal. A line goes on at its end, or whole when the stream
// ends, so that a character written in pieces is judged whole.
class PrintableLines : public std::streambuf {
 public:
  explicit PrintableLines(std::streambuf& target) : target_(target) {}
  ~PrintableLines() override;
  PrintableLines(const PrintableLines&) = delete;
  PrintableLines& operator=(const PrintableLines&) = delete;
  PrintableLines(PrintableLines&&) = delete;
  PrintableLines& operator=(PrintableLines&&) = delete;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  std::streambuf& target_;
  std::string line_;
};

}  // namespace hostsweep::controller

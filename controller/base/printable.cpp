#include "controller/base/printable.h"

#include <algorithm>
#include <cstdint>

namespace hostsweep::controller {
namespace {

constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kFirstC1 = 0x80;
constexpr unsigned char kLastC1 = 0x9F;

bool IsMaskedCodePoint(std::uint32_t point) {
  return point < 0x20 || (point >= kDelete && point <= kLastC1) ||  // C0, DEL, C1
         point == 0x061C ||                                         // Arabic letter mark
         point == 0x200E || point == 0x200F ||                      // LRM, RLM
         (point >= 0x202A && point <= 0x202E) ||                    // embeddings, overrides
         (point >= 0x2066 && point <= 0x2069) ||                    // isolates
         point == 0xFEFF;  // a byte-order mark out of place: unseen, yet there
}

struct Decoded {
  std::uint32_t point;
  std::size_t length;  // 0: not a valid UTF-8 sequence
};

// The code point of the UTF-8 sequence at the start of `text`.
Decoded DecodeUtf8(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  std::uint32_t point = 0;
  std::uint32_t least = 0;
  if (lead < kFirstC1) {
    return {lead, 1};
  }
  if ((lead & 0xE0U) == 0xC0) {
    length = 2, point = lead & 0x1FU, least = 0x80;
  } else if ((lead & 0xF0U) == 0xE0) {
    length = 3, point = lead & 0x0FU, least = 0x800;
  } else if ((lead & 0xF8U) == 0xF0) {
    length = 4, point = lead & 0x07U, least = 0x10000;
  } else {
    return {lead, 0};
  }
  if (text.size() < length) {
    return {lead, 0};
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0U) != 0x80) {
      return {lead, 0};
    }
    point = point << 6U | (next & 0x3FU);
  }
  // Overlong forms could smuggle a control character past the check; a
  // surrogate's encoding is no character at all.
  const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
  return point < least || point > 0x10FFFF || surrogate ? Decoded{lead, 0} : Decoded{point, length};
}

}  // namespace

std::string ReplaceControls(std::string_view text,
                            const std::function<std::string(std::uint32_t)>& replacement) {
  std::string printable;
  printable.reserve(text.size());
  while (!text.empty()) {
    // Printable ASCII, most of any text, is taken a run at a time.
    const auto plain = std::find_if(text.begin(), text.end(), [](char byte) {
      const auto value = static_cast<unsigned char>(byte);
      return value < 0x20 || value >= kDelete;
    });
    printable.append(text.begin(), plain);
    text.remove_prefix(static_cast<std::size_t>(plain - text.begin()));
    if (text.empty()) {
      break;
    }
    const Decoded decoded = DecodeUtf8(text);
    // A lone byte in the C1 range is read as a control by 8-bit terminals.
    const bool masked = decoded.length == 0 ? decoded.point >= kFirstC1 && decoded.point <= kLastC1
                                            : IsMaskedCodePoint(decoded.point);
    const std::size_t length = decoded.length == 0 ? 1 : decoded.length;
    if (masked) {
      printable += replacement(decoded.point);
    } else {
      printable += text.substr(0, length);
    }
    text.remove_prefix(length);
  }
  return printable;
}

std::string Printable(std::string_view text) {
  return ReplaceControls(text, [](std::uint32_t) { return std::string("?"); });
}

std::string ValidUtf8(std::string_view text) {
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  std::string valid;
  valid.reserve(text.size());
  while (!text.empty()) {
    const Decoded decoded = DecodeUtf8(text);
    // U+FFFE and U+FFFF are valid UTF-8 but no XML parser takes them.
    if (decoded.length == 0 || decoded.point == 0xFFFE || decoded.point == 0xFFFF) {
      valid += kReplacement;
    } else {
      valid += text.substr(0, decoded.length);
    }
    text.remove_prefix(decoded.length == 0 ? 1 : decoded.length);
  }
  return valid;
}

std::string Excerpt(std::string_view text, std::size_t most) {
  if (text.size() <= most) {
    return Printable(text);
  }
  return Printable(text.substr(0, most)) + "...";
}

PrintableLines::~PrintableLines() {
  if (!line_.empty()) {
    const std::string shown = Printable(line_);
    target_.sputn(shown.data(), static_cast<std::streamsize>(shown.size()));
  }
  target_.pubsync();
}

PrintableLines::int_type PrintableLines::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    const char one = traits_type::to_char_type(c);
    xsputn(&one, 1);
  }
  return traits_type::not_eof(c);
}

std::streamsize PrintableLines::xsputn(const char* text, std::streamsize count) {
  std::string_view rest(text, static_cast<std::size_t>(count));
  for (auto end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
    line_.append(rest.substr(0, end));
    const std::string shown = Printable(line_) + '\n';
    target_.sputn(shown.data(), static_cast<std::streamsize>(shown.size()));
    line_.clear();
    rest.remove_prefix(end + 1);
  }
  line_.append(rest);
  return count;
}

int PrintableLines::sync() { return target_.pubsync(); }

std::size_t DisplayWidth(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0U) != 0x80;
  }));
}

}  // namespace hostsweep::controller

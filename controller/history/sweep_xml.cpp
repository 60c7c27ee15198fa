#include "controller/history/sweep_xml.h"

#include <libxml/xmlreader.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "controller/base/errors.h"
#include "controller/output/row_fields.h"

namespace hostsweep::controller {
namespace {

// No network, no DTD loaded, entities left unexpanded (no XML_PARSE_NOENT)
// and libxml2's own bounds kept (no XML_PARSE_HUGE): a file from elsewhere
// can neither reach out nor blow up. Its complaints are ours to word. It is
// read as UTF-8 whatever it declares (ours are): CheckMarkup then sees the
// markup the parser sees.
constexpr int kParseOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;

using Reader = std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)>;

std::string Text(const xmlChar* text) {
  return text == nullptr ? std::string{} : std::string(reinterpret_cast<const char*>(text));
}

std::string Attribute(xmlTextReaderPtr reader, const char* name) {
  xmlChar* value = xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(name));
  std::string text = Text(value);
  xmlFree(value);
  return text;
}

// The parser's first complaint, with its line.
void KeepFirstError(void* context, xmlErrorPtr error) {
  auto& kept = *static_cast<std::string*>(context);
  if (kept.empty() && error != nullptr) {
    std::string message = Text(reinterpret_cast<const xmlChar*>(error->message));
    message.erase(message.find_last_not_of(" \n") + 1);
    kept = "line " + std::to_string(error->line) + ": " + message;
  }
}

// A host as its elements come: the facts, and what is still to be checked.
struct OpenHost {
  SweepXmlHost host;
  std::string state;
  std::string reason;
  std::string firstIpv6;
  std::string section;  // the host script, or its table, being read
  bool status = false;
  // The inventory's alias (--known) is written as a last host name: a host
  // with no other has no name of its own.
  std::size_t hostnames = 0;
  bool alias = false;
};

// The fields a row reads back from an element of its script's tables (what
// the device said it is, written whole and apart there; a script of its own
// in earlier files), each the first time it has text; the os element is there
// for importers.
void TakeFieldElement(xmlTextReaderPtr reader, OpenHost& open) {
  const std::string key = Attribute(reader, "key");
  for (const RowField& field : RowFields()) {
    const bool readBack =
        field.readBack != nullptr && field.xml.table == open.section && key == field.xml.key;
    if (readBack && open.host.fields.value(field.key, "").empty()) {
      xmlChar* text = xmlTextReaderReadString(reader);
      open.host.fields[field.key] = Text(text);
      xmlFree(text);
    }
  }
}

void TakeElement(xmlTextReaderPtr reader, const std::string& element, OpenHost& open) {
  if (element == "status") {
    open.status = true;
    open.state = Attribute(reader, "state");
    open.reason = Attribute(reader, "reason");
  } else if (element == "address") {
    const std::string type = Attribute(reader, "addrtype");
    if (type == "ipv4") {
      if (!open.host.address.empty()) {
        throw EarlierResultsError("a host with two IPv4 addresses");
      }
      open.host.address = Attribute(reader, "addr");
    } else if (type == "mac") {
      open.host.mac = Attribute(reader, "addr");
      std::replace(open.host.mac.begin(), open.host.mac.end(), ':', '-');
    } else if (type == "ipv6" && open.firstIpv6.empty()) {
      open.firstIpv6 = Attribute(reader, "addr");
    }
  } else if (element == "hostname" && ++open.hostnames == 1) {
    open.host.name = Attribute(reader, "name");
  } else if (element == "script" || element == "table") {
    open.section = Attribute(reader, element == "script" ? "id" : "key");
  } else if (element == "elem" && open.section == script_table::kKnown) {
    open.alias = open.alias || Attribute(reader, "key") == json_key::kAlias;
  } else if (element == "elem") {
    TakeFieldElement(reader, open);
  }
}

SweepXmlHost Closed(OpenHost open) {
  if (!open.status || open.state.empty()) {
    throw EarlierResultsError("a host without a status");
  }
  if (open.alias && open.hostnames == 1) {
    open.host.name.clear();
  }
  // A device heard over IPv6 alone has its first IPv6 address as its own.
  if (open.host.address.empty()) {
    open.host.address = std::move(open.firstIpv6);
  }
  if (open.host.address.empty()) {
    throw EarlierResultsError("a host without an address");
  }
  // A name-only sweep sends nothing to a host: it is found by its name.
  open.host.found = open.state == "up" || (open.state == "unknown" &&
                                           open.reason == "name-lookup" && !open.host.name.empty());
  return std::move(open.host);
}

// libxml2 holds each attribute of a start tag against all those before it,
// and a document type's declarations alike: work that grows with the square
// of their number, minutes for a megabyte of attributes. So the bytes are
// looked over first, in one pass, for what our documents never hold: more
// than a few attributes to an element, or any declaration.
constexpr std::size_t kMostAttributes = 100;

std::size_t EndOf(std::string_view bytes, std::size_t from, std::string_view terminator) {
  const std::size_t end = bytes.find(terminator, from);
  return end == std::string_view::npos ? bytes.size() : end + terminator.size();
}

// Where the document type declaration at `at` ends. Entity declarations are
// the way to a bomb or to another file, and our documents declare nothing:
// an internal subset is refused.
std::size_t DocumentTypeEnd(std::string_view bytes, std::size_t at) {
  char quote = 0;  // within a literal so quoted, which may hold '<'
  for (std::size_t i = at + 1; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (quote != 0) {
      quote = c == quote ? '\0' : quote;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[') {
      throw EarlierResultsError("its DOCTYPE declares entities or elements");
    } else if (c == '>') {
      return i + 1;
    }
  }
  return bytes.size();
}

// Where the tag at `at` ends, its attributes counted by their '='. No value
// may hold a '<': the next one ends the tag whatever came before it.
std::size_t TagEnd(std::string_view bytes, std::size_t at) {
  std::size_t attributes = 0;
  char quote = 0;  // within a value so quoted
  std::size_t i = at + 1;
  for (; i < bytes.size() && bytes[i] != '<'; ++i) {
    const char c = bytes[i];
    if (quote != 0) {
      quote = c == quote ? '\0' : quote;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    } else if (c == '=' && ++attributes > kMostAttributes) {
      const auto line =
          std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at), '\n') + 1;
      throw EarlierResultsError("line " + std::to_string(line) + ": an element with more than " +
                                std::to_string(kMostAttributes) + " attributes");
    }
  }
  return i;
}

void CheckMarkup(std::string_view bytes) {
  for (std::size_t at = bytes.find('<'); at < bytes.size(); at = bytes.find('<', at)) {
    const std::string_view rest = bytes.substr(at);
    if (rest.starts_with("<!--")) {
      at = EndOf(bytes, at + 4, "-->");
    } else if (rest.starts_with("<?")) {
      at = EndOf(bytes, at + 2, "?>");
    } else if (rest.starts_with("<![CDATA[")) {
      at = EndOf(bytes, at + 9, "]]>");
    } else if (rest.starts_with("<!DOCTYPE")) {
      at = DocumentTypeEnd(bytes, at);
    } else {
      at = TagEnd(bytes, at);
    }
  }
}

}  // namespace

void ReadSweepXml(std::string_view bytes, const std::function<void(SweepXmlHost)>& take) {
  CheckMarkup(bytes);
  const Reader reader(xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                         "UTF-8", kParseOptions),
                      &xmlFreeTextReader);
  if (!reader) {
    throw EarlierResultsError("the XML reader could not start");
  }
  std::string problem;
  xmlTextReaderSetStructuredErrorHandler(reader.get(), KeepFirstError, &problem);
  std::optional<OpenHost> open;
  int read = 0;
  while ((read = xmlTextReaderRead(reader.get())) == 1) {
    const int type = xmlTextReaderNodeType(reader.get());
    const int depth = xmlTextReaderDepth(reader.get());
    const std::string element = Text(xmlTextReaderConstLocalName(reader.get()));
    if (type == XML_READER_TYPE_ELEMENT && depth == 0 && element != "nmaprun") {
      throw EarlierResultsError("its root is <" + element + ">, not <nmaprun>");
    }
    if (type == XML_READER_TYPE_ELEMENT && depth == 1 && element == "host") {
      open.emplace();
    } else if (type == XML_READER_TYPE_ELEMENT && open) {
      TakeElement(reader.get(), element, *open);
    }
    const bool hostEnds =
        depth == 1 && element == "host" &&
        (type == XML_READER_TYPE_END_ELEMENT || xmlTextReaderIsEmptyElement(reader.get()) == 1);
    if (hostEnds && open) {
      take(Closed(std::move(*open)));
      open.reset();
    }
  }
  if (read < 0) {
    throw EarlierResultsError("not a whole XML document, cut short or corrupt: " +
                              (problem.empty() ? "no detail" : problem));
  }
}

}  // namespace hostsweep::controller

#include "controller/history/sweep_xml.h"

#include <libxml/xmlreader.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

// No network, no DTD loaded, entities left unexpanded (no XML_PARSE_NOENT)
// and libxml2's own bounds kept (no XML_PARSE_HUGE): a file from elsewhere
// can neither reach out nor blow up. Its complaints are ours to word.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

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
  bool status = false;
};

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
  } else if (element == "hostname" && open.host.name.empty()) {
    open.host.name = Attribute(reader, "name");
  }
}

SweepXmlHost Closed(OpenHost open) {
  if (!open.status || open.state.empty()) {
    throw EarlierResultsError("a host without a status");
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

// Entity declarations are the way to a bomb or to another file; our own
// documents declare nothing, so a document that does is not ours.
void CheckDocumentType(xmlTextReaderPtr reader) {
  const xmlNode* type = xmlTextReaderCurrentNode(reader);
  if (type != nullptr && type->children != nullptr) {
    throw EarlierResultsError("its DOCTYPE declares entities or elements");
  }
}

}  // namespace

std::vector<SweepXmlHost> ReadSweepXml(std::string_view bytes) {
  const Reader reader(xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                         nullptr, kParseOptions),
                      &xmlFreeTextReader);
  if (!reader) {
    throw EarlierResultsError("the XML reader could not start");
  }
  std::string problem;
  xmlTextReaderSetStructuredErrorHandler(reader.get(), KeepFirstError, &problem);
  std::vector<SweepXmlHost> hosts;
  std::optional<OpenHost> open;
  int read = 0;
  while ((read = xmlTextReaderRead(reader.get())) == 1) {
    const int type = xmlTextReaderNodeType(reader.get());
    const int depth = xmlTextReaderDepth(reader.get());
    const std::string element = Text(xmlTextReaderConstLocalName(reader.get()));
    if (type == XML_READER_TYPE_DOCUMENT_TYPE) {
      CheckDocumentType(reader.get());
    } else if (type == XML_READER_TYPE_ELEMENT && depth == 0 && element != "nmaprun") {
      throw EarlierResultsError("its root is <" + element + ">, not <nmaprun>");
    } else if (type == XML_READER_TYPE_ELEMENT && depth == 1 && element == "host") {
      open.emplace();
    } else if (type == XML_READER_TYPE_ELEMENT && open) {
      TakeElement(reader.get(), element, *open);
    }
    const bool hostEnds =
        depth == 1 && element == "host" &&
        (type == XML_READER_TYPE_END_ELEMENT || xmlTextReaderIsEmptyElement(reader.get()) == 1);
    if (hostEnds && open) {
      hosts.push_back(Closed(std::move(*open)));
      open.reset();
    }
  }
  if (read < 0) {
    throw EarlierResultsError("not a whole XML document, cut short or corrupt: " +
                              (problem.empty() ? "no detail" : problem));
  }
  return hosts;
}

}  // namespace hostsweep::controller

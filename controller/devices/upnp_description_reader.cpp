#include <libxml/xmlreader.h>

#include <array>
#include <memory>
#include <utility>

#include "controller/devices/upnp_description.h"

namespace hostsweep::controller {
namespace {

// No network, no DTD loaded, entities left unexpanded (no XML_PARSE_NOENT),
// libxml2's own bounds kept (no XML_PARSE_HUGE), and its complaints not
// printed: the device wrote it.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
// <root> 0, <device> 1, its fields 2, their text 3.
constexpr int kFieldDepth = 2;

using Reader = std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)>;

std::string_view Text(const xmlChar* text) {
  return text == nullptr ? std::string_view{} : reinterpret_cast<const char*>(text);
}

std::string* FieldOf(UpnpDescription& description, std::string_view element) {
  const std::array<std::pair<std::string_view, std::string*>, 6> fields{
      {{"deviceType", &description.deviceType},
       {"manufacturer", &description.manufacturer},
       {"modelName", &description.modelName},
       {"modelNumber", &description.modelNumber},
       {"friendlyName", &description.friendlyName},
       {"UDN", &description.udn}}};
  for (const auto& [name, field] : fields) {
    if (name == element) {
      return field;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<UpnpDescription> ParseUpnpDescription(std::string_view xml) {
  const Reader reader(
      xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, kParseOptions),
      &xmlFreeTextReader);
  if (!reader) {
    return std::nullopt;
  }
  UpnpDescription description;
  bool rootDevice = false;  // inside the root's first <device>
  bool seenDevice = false;
  std::string* field = nullptr;
  int read = 0;
  while ((read = xmlTextReaderRead(reader.get())) == 1) {
    const int type = xmlTextReaderNodeType(reader.get());
    const int depth = xmlTextReaderDepth(reader.get());
    const auto name = Text(xmlTextReaderConstLocalName(reader.get()));
    if (type == XML_READER_TYPE_DOCUMENT_TYPE || depth > kMostDescriptionDepth ||
        (depth == 0 && type == XML_READER_TYPE_ELEMENT && name != "root")) {
      return std::nullopt;
    }
    const bool empty = xmlTextReaderIsEmptyElement(reader.get()) == 1;
    if (type == XML_READER_TYPE_ELEMENT && depth == 1 && name == "device" && !seenDevice) {
      rootDevice = seenDevice = !empty;
    } else if (type == XML_READER_TYPE_END_ELEMENT && depth == 1) {
      rootDevice = false;
    } else if (rootDevice && type == XML_READER_TYPE_ELEMENT && depth == kFieldDepth) {
      field = empty ? nullptr : FieldOf(description, name);
    } else if (type == XML_READER_TYPE_END_ELEMENT && depth == kFieldDepth) {
      field = nullptr;
    } else if (field != nullptr && depth == kFieldDepth + 1 &&
               (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA)) {
      field->append(Text(xmlTextReaderConstValue(reader.get())));
      field->resize(std::min(field->size(), kMostFieldLength));
    }
  }
  if (read != 0 || !seenDevice) {
    return std::nullopt;
  }
  return description;
}

}  // namespace hostsweep::controller

// What the SSDP search hears and the description fetch reads, from canned
// bytes: answers, which URLs may be fetched, HTTP framing, and descriptions
// well-formed and hostile.
#include <gtest/gtest.h>

#include <ostream>

#include "controller/devices/http_response.h"
#include "controller/devices/http_text.h"
#include "controller/devices/ssdp_message.h"
#include "controller/devices/upnp_description.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr Address kDevice = 0x0A000005;  // 10.0.0.5

Bytes BytesOf(std::string_view text) { return {text.begin(), text.end()}; }

struct AnswerCase {
  const char* what;
  std::string datagram;
  std::optional<DescriptionUrl> url;  // what may be fetched
  std::string target{};
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.what; }

class SsdpAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(SsdpAnswers, OnlyTheAnsweringHostsOwnPlainHttpUrlIsFetched) {
  const auto& param = GetParam();
  const auto answer = ParseSsdpAnswer(BytesOf(param.datagram));
  const auto url = answer ? DescriptionOn(answer->location, kDevice) : std::nullopt;
  ASSERT_EQ(url.has_value(), param.url.has_value());
  if (url) {
    EXPECT_EQ(url->port, param.url->port);
    EXPECT_EQ(url->path, param.url->path);
    EXPECT_EQ(answer->target, param.target);
  }
}

const std::string kOk = "HTTP/1.1 200 OK\r\n";

INSTANTIATE_TEST_SUITE_P(
    Datagrams, SsdpAnswers,
    ::testing::Values(
        AnswerCase{"ordinary",
                   kOk + "CACHE-CONTROL: max-age=1800\r\nLOCATION: "
                         "http://10.0.0.5:49152/desc.xml\r\nST: upnp:rootdevice\r\n\r\n",
                   DescriptionUrl{kDevice, 49152, "/desc.xml"}, "upnp:rootdevice"},
        AnswerCase{"field names in any case, no final blank line, bare LF",
                   "HTTP/1.1 200 OK\nlocation:   HTTP://10.0.0.5\nst:urn:x:device:y:1",
                   DescriptionUrl{kDevice, 80, "/"}, "urn:x:device:y:1"},
        AnswerCase{"no LOCATION", kOk + "ST: upnp:rootdevice\r\n\r\n", std::nullopt},
        AnswerCase{"LOCATION on another host", kOk + "LOCATION: http://10.0.0.6/d.xml\r\n\r\n",
                   std::nullopt},
        AnswerCase{"LOCATION by name", kOk + "LOCATION: http://printer.lan/d.xml\r\n\r\n",
                   std::nullopt},
        AnswerCase{"https", kOk + "LOCATION: https://10.0.0.5/d.xml\r\n\r\n", std::nullopt},
        AnswerCase{"a port out of range", kOk + "LOCATION: http://10.0.0.5:70000/\r\n\r\n",
                   std::nullopt},
        AnswerCase{"a path that would split our request",
                   kOk + "LOCATION: http://10.0.0.5/a b\r\n\r\n", std::nullopt},
        AnswerCase{"a search, not an answer",
                   "M-SEARCH * HTTP/1.1\r\nLOCATION: http://10.0.0.5/\r\n\r\n", std::nullopt},
        AnswerCase{"an error status",
                   "HTTP/1.1 404 Not Found\r\nLOCATION: http://10.0.0.5/\r\n\r\n", std::nullopt}),
    testing::kNumberedName);

struct HttpCase {
  const char* what;
  std::string received;
  bool closed;
  HttpOutcome outcome;
  std::string body{};
};

void PrintTo(const HttpCase& c, std::ostream* os) { *os << c.what; }

class HttpResponses : public ::testing::TestWithParam<HttpCase> {};

TEST_P(HttpResponses, TheBodyIsFramedAndBounded) {
  const auto& param = GetParam();
  const auto reading = ReadHttpResponse(param.received, param.closed);
  EXPECT_EQ(reading.outcome, param.outcome);
  EXPECT_EQ(reading.body, param.body);
}

const std::string kHuge(kMostDescriptionBytes + 1, 'x');

INSTANTIATE_TEST_SUITE_P(
    Responses, HttpResponses,
    ::testing::Values(
        HttpCase{"Content-Length", kOk + "Content-Length: 5\r\n\r\nhello, and more", false,
                 HttpOutcome::kBody, "hello"},
        HttpCase{"Content-Length, not all come yet", kOk + "Content-Length: 5\r\n\r\nhel", false,
                 HttpOutcome::kIncomplete},
        HttpCase{"Content-Length, closed early", kOk + "Content-Length: 5\r\n\r\nhel", true,
                 HttpOutcome::kRefused},
        HttpCase{"chunked",
                 kOk + "Transfer-Encoding: chunked\r\n\r\n5;x=y\r\nhello\r\n1\r\n!\r\n0\r\n\r\n",
                 false, HttpOutcome::kBody, "hello!"},
        HttpCase{"chunked, last chunk not come yet",
                 kOk + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", false,
                 HttpOutcome::kIncomplete},
        HttpCase{"chunked, a chunk larger than a description",
                 kOk + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFF\r\n", false,
                 HttpOutcome::kRefused},
        HttpCase{"chunked, bad framing", kOk + "Transfer-Encoding: chunked\r\n\r\n2\r\nhello\r\n",
                 false, HttpOutcome::kRefused},
        HttpCase{"to the close", kOk + "\r\n<root/>", true, HttpOutcome::kBody, "<root/>"},
        HttpCase{"to the close, still open", kOk + "\r\n<root/>", false, HttpOutcome::kIncomplete},
        HttpCase{"over-size, said", kOk + "Content-Length: 65537\r\n\r\n", false,
                 HttpOutcome::kRefused},
        HttpCase{"over-size, sent", kOk + "\r\n" + kHuge, false, HttpOutcome::kRefused},
        HttpCase{"a redirect is not followed",
                 "HTTP/1.1 301 Moved\r\nLocation: http://10.0.0.9/\r\nContent-Length: 0\r\n\r\n",
                 false, HttpOutcome::kRefused},
        HttpCase{"a head that never ends", kOk + std::string(kMostHeadBytes, 'a'), false,
                 HttpOutcome::kRefused},
        HttpCase{"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", false, HttpOutcome::kRefused}),
    testing::kNumberedName);

struct DescriptionCase {
  const char* what;
  std::string xml;
  std::optional<UpnpDescription> expected;
};

void PrintTo(const DescriptionCase& c, std::ostream* os) { *os << c.what; }

class Descriptions : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(Descriptions, TheRootDevicesFieldsOrNothing) {
  const auto& param = GetParam();
  EXPECT_EQ(ParseUpnpDescription(param.xml), param.expected);
}

std::string Nested(int depth) {
  std::string xml = "<root><device><deviceType>t</deviceType>";
  for (int i = 0; i < depth; ++i) {
    xml += "<a>";
  }
  for (int i = 0; i < depth; ++i) {
    xml += "</a>";
  }
  return xml + "</device></root>";
}

const std::string kGood =
    R"(<?xml version="1.0"?><root xmlns="urn:schemas-upnp-org:device-1-0"><specVersion>)"
    R"(<major>2</major></specVersion><device><deviceType>urn:schemas-upnp-org:device:)"
    R"(InternetGatewayDevice:2</deviceType><friendlyName>Gate &amp; way</friendlyName>)"
    R"(<manufacturer><![CDATA[Netgear]]></manufacturer><modelName>R7000</modelName>)"
    R"(<modelNumber/><UDN>uuid:1</UDN><deviceList><device><deviceType>inner</deviceType>)"
    R"(<modelName>WAN</modelName></device></deviceList></device></root>)";

INSTANTIATE_TEST_SUITE_P(
    Xml, Descriptions,
    ::testing::Values(
        DescriptionCase{"good; embedded devices are not the root's", kGood,
                        UpnpDescription{.deviceType = "urn:schemas-upnp-org:device:"
                                                      "InternetGatewayDevice:2",
                                        .manufacturer = "Netgear",
                                        .modelName = "R7000",
                                        .friendlyName = "Gate & way",
                                        .udn = "uuid:1"}},
        DescriptionCase{"entity bomb",
                        R"(<?xml version="1.0"?><!DOCTYPE root [<!ENTITY a "aaaaaaaaaa">)"
                        R"(<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">]>)"
                        R"(<root><device><modelName>&b;</modelName></device></root>)",
                        std::nullopt},
        DescriptionCase{"external DTD",
                        R"(<!DOCTYPE root SYSTEM "http://10.0.0.9/x.dtd"><root><device>)"
                        R"(<modelName>m</modelName></device></root>)",
                        std::nullopt},
        DescriptionCase{"deep nesting", Nested(kMostDescriptionDepth), std::nullopt},
        DescriptionCase{"nesting within the bound", Nested(kMostDescriptionDepth - 3),
                        UpnpDescription{.deviceType = "t"}},
        DescriptionCase{"huge field",
                        "<root><device><modelName>" + kHuge + "</modelName></device></root>",
                        UpnpDescription{.modelName = std::string(kMostFieldLength, 'x')}},
        DescriptionCase{"not well-formed", "<root><device><modelName>m</device></root>",
                        std::nullopt},
        DescriptionCase{"another document", "<html><device/></html>", std::nullopt},
        DescriptionCase{"no device", "<root/>", std::nullopt}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller

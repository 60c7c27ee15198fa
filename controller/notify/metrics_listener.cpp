#include <charconv>

#include "controller/base/errors.h"
#include "controller/notify/metrics.h"
#include "controller/notify/metrics_http.h"
#include "controller/system/http_server.h"

namespace hostsweep::controller {
namespace {

std::string Response(std::string_view status, std::string_view headers, std::string_view body) {
  std::string response = "HTTP/1.1 ";
  response.append(status).append("\r\n").append(headers);
  response += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  response.append(body);
  return response;
}

// Until the first sweep ends, an empty page: a scrape that succeeds with no
// samples, where an error would call hostsweep down.
class MetricsListener : public SweepObserver {
 public:
  explicit MetricsListener(const ListenAddress& address)
      : server_(ServeHttp(address.host, address.port, MetricsResponse)) {}

  void SweepEnded(const SweepReport& report) override { server_->Publish(MetricsText(report)); }

 private:
  std::unique_ptr<HttpServer> server_;
};

}  // namespace

ListenAddress ParseListenAddress(std::string_view text, std::string_view option) {
  ListenAddress address{"127.0.0.1", 0};
  std::string_view port = text;
  if (text.starts_with('[')) {
    const auto close = text.find("]:");
    if (close == std::string_view::npos) {
      throw UsageError(std::string(option) + " " + std::string(text) + ": expected [ADDRESS]:PORT");
    }
    address.host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else if (const auto colon = text.find(':'); colon != std::string_view::npos) {
    address.host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  const auto* end = port.data() + port.size();
  const auto [stop, error] = std::from_chars(port.data(), end, address.port);
  if (error != std::errc() || stop != end || address.port == 0 || address.host.empty()) {
    throw UsageError(std::string(option) + " " + std::string(text) +
                     ": expected PORT, ADDRESS:PORT or [IPV6]:PORT, port 1 to 65535");
  }
  return address;
}

std::string MetricsResponse(std::string_view request, std::string_view page) {
  const auto lineEnd = request.find("\r\n");
  const auto line = request.substr(0, lineEnd);
  const auto firstSpace = line.find(' ');
  const auto lastSpace = line.rfind(' ');
  if (lineEnd == std::string_view::npos || firstSpace == lastSpace ||
      !line.substr(lastSpace + 1).starts_with("HTTP/1.")) {
    return Response("400 Bad Request", "", "");
  }
  const auto target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  if (target.substr(0, target.find('?')) != "/metrics") {
    return Response("404 Not Found", "", "");
  }
  if (line.substr(0, firstSpace) != "GET") {
    return Response("405 Method Not Allowed", "Allow: GET\r\n", "");
  }
  return Response("200 OK", "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n", page);
}

std::unique_ptr<SweepObserver> MakeMetricsListener(const std::string& address) {
  const auto where = ParseListenAddress(address);
  try {
    return std::make_unique<MetricsListener>(where);
  } catch (const UsageError& error) {
    throw UsageError("--metrics-listen " + address + ": " + error.what());
  } catch (const SystemError& error) {
    throw SystemError("--metrics-listen: " + std::string(error.what()));
  }
}

}  // namespace hostsweep::controller

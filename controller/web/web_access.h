// Who may read the dashboard: anyone on this machine when it listens on a
// loopback address; elsewhere, whoever gives --web-password over HTTP Basic.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "controller/notify/metrics_http.h"

namespace hostsweep::controller {

// 127.0.0.0/8 and ::1, in numbers (ListenAddress's host).
bool IsLoopback(std::string_view host);

// Why the dashboard may not listen at `where` as asked; none when it may.
std::optional<std::string> WebListenProblem(const ListenAddress& where, bool hasPassword);

// The password, kept as its SHA-256 alone: a memory dump does not show it,
// and every comparison takes as long whatever the guess.
class WebPassword {
 public:
  explicit WebPassword(std::string_view password);
  // Whether an Authorization header's value is "Basic " and base64 of
  // USER:PASSWORD with this password (any user name).
  [[nodiscard]] bool Admits(std::string_view authorization) const;

 private:
  std::array<unsigned char, 32> digest_{};
};

// The headers of a request that changes something (the --known file).
struct ChangeHeaders {
  std::string_view host;         // Host
  std::string_view origin;       // Origin: every browser sends it with a POST
  std::string_view fetchSite;    // Sec-Fetch-Site, where the browser sends it
  std::string_view contentType;  // Content-Type
  std::string_view token;        // X-Hostsweep-Token
};

// Why a change is refused (a 403's text); none when it may go on. Only the
// page itself may change anything: its own origin, JSON (which no form of
// another site can post without asking first), and the session's token,
// which only a page of this origin can read from /api/session.
std::optional<std::string> ChangeRefusal(const ChangeHeaders& request, std::string_view token);

// A fresh token for this run of the dashboard: 32 random bytes in hex.
std::string SessionToken();

}  // namespace hostsweep::controller

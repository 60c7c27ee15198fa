#include "net/echo_probe.h"

#include <cstring>

#include "common/failure.h"
#include "common/text.h"

namespace hostsweep {
namespace {

// Lasts for the whole process; only SendEcho writes it.
EchoReply echoReply{};

// Closes the ICMP handle on every way out of a request, a Failure raised by
// IcmpSendEcho included, and only if one was opened.
class IcmpHandle {
 public:
  IcmpHandle() : handle_(os::IcmpCreateFile()) {}
  IcmpHandle(const IcmpHandle&) = delete;
  IcmpHandle& operator=(const IcmpHandle&) = delete;
  ~IcmpHandle() {
    if (valid()) {
      os::IcmpCloseHandle(handle_);
    }
  }
  [[nodiscard]] bool valid() const {
    return handle_ != nullptr && handle_ != os::INVALID_HANDLE_VALUE;
  }
  [[nodiscard]] os::HANDLE get() const { return handle_; }

 private:
  os::HANDLE handle_;
};

}  // namespace

os::ICMP_ECHO_REPLY EchoReply::Header() const {
  os::ICMP_ECHO_REPLY header{};
  std::memcpy(&header, bytes.data(), sizeof header);
  return header;
}

std::string ProbeHost(std::string address, std::int16_t& ttl) {
  address = Trim(address, " ");
  if (SendEcho(address, kEchoPayload, echoReply, kEchoTimeoutMs) != 0) {
    return kNoReply;
  }
  const os::ICMP_ECHO_REPLY header = echoReply.Header();
  ttl = header.Options.Ttl;
  return std::to_string(static_cast<std::int32_t>(header.RoundTripTime));
}

std::int32_t SendEcho(const std::string& address, const std::string& payload, EchoReply& reply,
                      std::int32_t timeoutMs) {
  try {
    const os::IPAddr destination = os::inet_addr(address.c_str());
    if (destination == INADDR_NONE) {
      return kEchoFailed;
    }
    const IcmpHandle icmp;
    // Without a handle no request goes out, so there can be no reply.
    if (!icmp.valid()) {
      return kEchoFailed;
    }
    std::string request = payload;
    const os::DWORD replies = os::IcmpSendEcho(
        icmp.get(), destination, request.data(), static_cast<os::WORD>(request.size()), nullptr,
        reply.bytes.data(), static_cast<os::DWORD>(reply.bytes.size()),
        static_cast<os::DWORD>(timeoutMs));
    auto status = static_cast<std::int32_t>(reply.Header().Status);
    // A request that produced no reply must never read as one, whatever the
    // buffer still holds from an earlier request.
    if (replies == 0 && status == 0) {
      const os::DWORD lastError = os::GetLastError();
      status = static_cast<std::int32_t>(lastError != 0 ? lastError : os::IP_REQ_TIMED_OUT);
    }
    return status;
  } catch (const Failure&) {
    return kEchoFailed;
  }
}

}  // namespace hostsweep

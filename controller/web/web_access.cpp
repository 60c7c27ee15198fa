#include "controller/web/web_access.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <stdexcept>
#include <vector>

namespace hostsweep::controller {
namespace {

std::array<unsigned char, SHA256_DIGEST_LENGTH> Sha256(std::string_view text) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest.data());
  return digest;
}

// Standard base64, padded; none for anything else.
std::optional<std::string> Base64Decoded(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0 || text.size() > 4096) {
    return std::nullopt;
  }
  std::vector<unsigned char> bytes(text.size() / 4 * 3);
  const int length =
      EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
  if (length < 0) {
    return std::nullopt;
  }
  // EVP_DecodeBlock counts the padding's bytes as zeros.
  const auto padding = static_cast<std::size_t>(text.ends_with("==") ? 2 : text.ends_with('='));
  return std::string(bytes.begin(), bytes.begin() + length - static_cast<long>(padding));
}

}  // namespace

bool IsLoopback(std::string_view host) {
  return host.starts_with("127.") || host == "::1" || host == "localhost";
}

std::optional<std::string> WebListenProblem(const ListenAddress& where, bool hasPassword) {
  if (!IsLoopback(where.host) && !hasPassword) {
    return "--web " + where.host + ": an address other machines reach needs --web-password @FILE";
  }
  return std::nullopt;
}

WebPassword::WebPassword(std::string_view password) : digest_(Sha256(password)) {}

bool WebPassword::Admits(std::string_view authorization) const {
  constexpr std::string_view kScheme = "Basic ";
  if (!authorization.starts_with(kScheme)) {
    return false;
  }
  const auto credentials = Base64Decoded(authorization.substr(kScheme.size()));
  const std::size_t colon = credentials ? credentials->find(':') : std::string::npos;
  if (colon == std::string::npos) {
    return false;
  }
  const auto offered = Sha256(std::string_view(*credentials).substr(colon + 1));
  unsigned char difference = 0;
  for (std::size_t i = 0; i < offered.size(); ++i) {
    difference |= static_cast<unsigned char>(offered.at(i) ^ digest_.at(i));
  }
  return difference == 0;
}

std::optional<std::string> ChangeRefusal(const ChangeHeaders& request, std::string_view token) {
  if (request.origin != "http://" + std::string(request.host) &&
      request.origin != "https://" + std::string(request.host)) {
    return "not from this page's origin";
  }
  if (!request.fetchSite.empty() && request.fetchSite != "same-origin") {
    return "not from this page's origin";
  }
  if (request.contentType.substr(0, request.contentType.find(';')) != "application/json") {
    return "not JSON";
  }
  if (token.empty() || request.token.size() != token.size() ||
      CRYPTO_memcmp(request.token.data(), token.data(), token.size()) != 0) {
    return "no token of this session";
  }
  return std::nullopt;
}

std::string SessionToken() {
  std::array<unsigned char, 32> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    throw std::runtime_error("no random bytes for the dashboard's token");
  }
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : bytes) {
    text += kHex[byte >> 4U];
    text += kHex[byte & 0xFU];
  }
  return text;
}

}  // namespace hostsweep::controller

#include "controller/notify/secret_option.h"

#include "controller/system/files.h"

namespace hostsweep::controller {

std::string SecretOption(std::string_view value) {
  if (value.starts_with('@')) {
    return ReadSecretFile(std::string(value.substr(1)));
  }
  return std::string(value);
}

std::string SecretFreeMessage(std::string message, std::string_view secret, std::string_view option,
                              std::string_view given) {
  const std::string shown = MaskedUrl(secret);
  const std::string file = "the first line of " + std::string(given.substr(1));
  for (std::size_t at = message.find(shown); !shown.empty() && at != std::string::npos;
       at = message.find(shown, at + file.size())) {
    message.replace(at, shown.size(), file);
  }
  if (secret.empty() || message.find(secret) != std::string::npos) {
    return std::string(option) + " " + std::string(given) +
           ": its first line is no URL hostsweep can take";
  }
  return message;
}

std::string MaskedUrl(std::string_view url) {
  constexpr std::string_view kMask = "***";
  std::string masked(url);
  const std::size_t scheme = masked.find("://");
  const std::size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t hostEnd = std::min(masked.find_first_of("/?#", hostStart), masked.size());
  if (const std::size_t at = masked.rfind('@', hostEnd);
      at != std::string::npos && at >= hostStart) {
    if (const std::size_t colon = masked.find(':', hostStart); colon < at) {
      masked.replace(colon + 1, at - colon - 1, kMask);
    }
  }
  if (const std::size_t query = masked.find('?'); query != std::string::npos) {
    const std::size_t fragment = std::min(masked.find('#', query), masked.size());
    masked.replace(query + 1, fragment - query - 1, kMask);
  }
  return masked;
}

}  // namespace hostsweep::controller

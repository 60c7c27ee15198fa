// Options whose value may hold a secret (--webhook, --mqtt): given as @FILE
// they are read from a file only its owner may read, and they are never
// shown as given.
#pragma once

#include <string>
#include <string_view>

#include "controller/base/errors.h"

namespace hostsweep::controller {

// `value` itself, or the first line of FILE for "@FILE" (ReadSecretFile's
// checks; throws UsageError).
std::string SecretOption(std::string_view value);

// `message`, an error about `secret` as read for `option` from `given`
// ("@FILE"), as it may be shown: the file named where the secret showed,
// and a plain word in place of any message that would still show it.
std::string SecretFreeMessage(std::string message, std::string_view secret, std::string_view option,
                              std::string_view given);

// What `make` makes of `value`'s secret (SecretOption's); a UsageError it
// throws about a secret read from a file names the file, never what it holds.
template <typename Make>
auto MakeFromSecretOption(std::string_view option, std::string_view value, const Make& make) {
  const std::string secret = SecretOption(value);
  try {
    return make(secret);
  } catch (const UsageError& error) {
    if (!value.starts_with('@')) {
      throw;
    }
    throw UsageError(SecretFreeMessage(error.what(), secret, option, value));
  }
}

// `url` as messages may show it: a password in its user part and its query
// (where tokens travel) replaced by "***".
std::string MaskedUrl(std::string_view url);

}  // namespace hostsweep::controller

// Options whose value may hold a secret (--webhook, --mqtt): given as @FILE
// they are read from a file only its owner may read, and they are never
// shown as given.
#pragma once

#include <string>
#include <string_view>

namespace hostsweep::controller {

// `value` itself, or the first line of FILE for "@FILE" (ReadSecretFile's
// checks; throws UsageError).
std::string SecretOption(std::string_view value);

// `url` as messages may show it: a password in its user part and its query
// (where tokens travel) replaced by "***".
std::string MaskedUrl(std::string_view url);

}  // namespace hostsweep::controller

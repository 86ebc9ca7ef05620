// SHA-256 and HMAC-SHA-256 (FIPS 180-4, RFC 2104), for deriving identities
// that must not reveal what they were derived from. Pure functions.
#ifndef HOST_SHA256_H
#define HOST_SHA256_H

#include <array>
#include <cstdint>
#include <string>

namespace host {

typedef std::array<std::uint8_t, 32> Sha256_Digest;

// The digest of `data` (any bytes).
Sha256_Digest sha256(const std::string& data);
// The keyed digest of `message` under `key` (any lengths).
Sha256_Digest hmac_sha256(const std::string& key, const std::string& message);

}  // namespace host

#endif

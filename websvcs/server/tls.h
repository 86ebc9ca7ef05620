// The web server's TLS credentials, and the start-up warnings that say how
// exposed a configuration leaves the server.
#ifndef WEBSVCS_SERVER_TLS_H
#define WEBSVCS_SERVER_TLS_H

#include <string>
#include <vector>

#include "websvcs/server/web_config.h"

// A certificate chain and its private key as PEM text. The key is wiped
// from memory when the object goes. Move-only.
class Tls_Credentials {
 public:
  Tls_Credentials() = default;
  ~Tls_Credentials();
  Tls_Credentials(Tls_Credentials&& other) noexcept;
  Tls_Credentials& operator=(Tls_Credentials&& other) noexcept;
  Tls_Credentials(const Tls_Credentials&) = delete;
  Tls_Credentials& operator=(const Tls_Credentials&) = delete;

  // True once loaded: the server is to speak https.
  bool enabled() const { return !certificate_.empty(); }
  const std::string& certificate() const { return certificate_; }
  const std::string& key() const { return key_; }
  // Wipes and forgets both.
  void clear();

  // Reads the files "tls_certificate" and "tls_key" of `config`. With
  // neither configured: true and nothing loaded. False with a one-line
  // reason naming the file in `error` when a file cannot be read, is not a
  // regular file, is larger than 1 MiB, holds no PEM block of the right
  // kind, or (the key) may be read or written by others than its owner and
  // group: a key the whole host can read is no secret, so the server does
  // not start with it.
  bool load(const Web_Config& config, std::string& error);

 private:
  std::string certificate_;
  std::string key_;
};

// The lines the server logs as warnings when it starts with `config`:
// listening off loopback without TLS (the token and every reply cross the
// network in clear), and serving without a token (`token_required`
// false: any local account can move cartridges). Empty when neither holds.
std::vector<std::string> exposure_warnings(const Web_Config& config, bool token_required);

#endif

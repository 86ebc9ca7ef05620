// A self-signed certificate for 127.0.0.1 and localhost, made at test time
// with the openssl program, for the https tests of the server and tapectl.
#ifndef TESTING_TEST_CERTIFICATE_H
#define TESTING_TEST_CERTIFICATE_H

#include <sys/stat.h>

#include <cstdlib>
#include <string>

// Writes `dir`/cert.pem and `dir`/key.pem (mode 0600) into `cert` and
// `key`; false when openssl is missing or fails.
inline bool make_test_certificate(const std::string& dir, std::string& cert, std::string& key) {
  cert = dir + "/cert.pem";
  key = dir + "/key.pem";
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
      " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout '" +
      key + "' -out '" + cert + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 && ::chmod(key.c_str(), 0600) == 0;
}

#endif

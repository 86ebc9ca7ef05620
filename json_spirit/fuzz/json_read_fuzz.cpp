// libFuzzer target for JSON text reading. Any input may be refused, but
// what read() accepts must survive a round trip: writing the value and
// reading the text back gives an equal value, and writing that again gives
// the same text. The indented form must read back equal too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "json_spirit/json_spirit.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "json_read_fuzz: %s: %.200s\n", what, text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  json_spirit::Value v;
  std::string error;
  if (!json_spirit::read(text, v, &error)) {
    if (v != json_spirit::Value()) fail("a refused text changed the output", text);
    return 0;
  }
  const std::string once = json_spirit::write(v);
  json_spirit::Value back;
  if (!json_spirit::read(once, back, &error))
    fail(("written text does not read: " + error).c_str(), once);
  if (!(back == v)) fail("value changed in a round trip", once);
  if (json_spirit::write(back) != once) fail("written text is not stable", once);

  json_spirit::Value formatted;
  const std::string pretty = json_spirit::write_formatted(v);
  if (!json_spirit::read(pretty, formatted, &error)) fail("indented text does not read", pretty);
  if (!(formatted == v)) fail("value changed through the indented text", pretty);
  return 0;
}

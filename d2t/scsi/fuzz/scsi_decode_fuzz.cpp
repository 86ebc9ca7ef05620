// libFuzzer target for the SCSI response decoders. The first byte picks the
// decoder, the rest is the response exactly as long as the device sent it,
// so AddressSanitizer sees any read past the received data. Beyond "no out
// of bounds read", each decoder's stated contract is checked: outputs
// unchanged on failure, attribute values inside the buffer, element
// descriptors no more than the data can hold.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "d2t/scsi/attributes.h"
#include "d2t/scsi/element_status.h"
#include "d2t/scsi/inquiry.h"
#include "d2t/scsi/sense.h"
#include "d2t/scsi/vpd.h"

namespace {

using namespace d2t::scsi;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "scsi_decode_fuzz: %s\n", what);
  std::abort();
}

// Reads every byte of a string so the sanitizer sees its storage used.
unsigned touch(const std::string& s) {
  unsigned sum = 0;
  for (char c : s) sum += static_cast<unsigned char>(c);
  return sum;
}

volatile unsigned g_sink;

void element_status(const std::uint8_t* d, std::size_t n) {
  std::vector<Element> out(1);  // decoders append; one element is already there
  Element_Report report;
  std::string error;
  if (!parse_element_status(d, n, out, report, &error) && out.size() != 1)
    fail("element status: failure left descriptors behind");
  // Complete descriptors only: each takes at least 12 bytes after the
  // 8-byte report header and an 8-byte page header.
  const std::size_t most = n >= 16 ? (n - 16) / 12 : 0;
  if (out.size() - 1 > most) fail("element status: more descriptors than the data holds");
  unsigned sum = 0;
  for (const Element& e : out) {
    sum += touch(e.volume_tag) + touch(e.device_vendor) + touch(e.device_product) +
           touch(e.device_serial) + touch(e.device_id);
  }
  g_sink = sum;
}

void element_map(const std::uint8_t* d, std::size_t n) {
  Element_Map m;
  m.storage_count = 77;
  if (!parse_element_map(d, n, m) && m.storage_count != 77)
    fail("element map: failure changed the output");
}

void inquiry(const std::uint8_t* d, std::size_t n) {
  Inquiry_Data q;
  q.vendor = "unchanged";
  if (!parse_inquiry(d, n, q)) {
    if (q.vendor != "unchanged") fail("inquiry: failure changed the output");
    return;
  }
  if (n < 36) fail("inquiry: accepted fewer than 36 bytes");
  g_sink = touch(q.vendor) + touch(q.product) + touch(q.revision);
}

void unit_serial(const std::uint8_t* d, std::size_t n) {
  std::string serial = "unchanged";
  if (!parse_unit_serial(d, n, serial)) {
    if (serial != "unchanged") fail("unit serial: failure changed the output");
    return;
  }
  if (serial.size() > n) fail("unit serial: longer than the page");
  g_sink = touch(serial);
}

void block_limits(const std::uint8_t* d, std::size_t n) {
  std::uint32_t max_block = 1, min_block = 2;
  if (!parse_block_limits(d, n, max_block, min_block) && (max_block != 1 || min_block != 2)) {
    fail("block limits: failure changed the output");
  }
}

void attributes(const std::uint8_t* d, std::size_t n) {
  std::vector<Attribute> out;
  if (!parse_attributes(d, n, out)) return;
  unsigned sum = 0;
  for (const Attribute& a : out) {
    if (a.length > 0) {
      if (a.value < d || a.value > d + n || a.length > static_cast<std::size_t>(d + n - a.value)) {
        fail("attributes: value outside the received data");
      }
      for (std::size_t i = 0; i < a.length; ++i) sum += a.value[i];
    }
    std::uint64_t number = 0;
    attribute_number(a, number);
    sum += static_cast<unsigned>(number);
  }
  g_sink = sum;
}

// The identity VPD pages: outputs unchanged on failure, nothing longer
// than the page.
void vpd(const std::uint8_t* d, std::size_t n) {
  std::vector<std::uint8_t> pages(1, 0x42);
  if (parse_supported_pages(d, n, pages)) {
    if (pages.size() + 4 > n) fail("supported pages: more than the data holds");
  } else if (pages != std::vector<std::uint8_t>(1, 0x42)) {
    fail("supported pages: failure changed the output");
  }
  std::vector<Designator> designators(1);
  if (parse_device_identification(d, n, designators)) {
    std::size_t bytes = 0;
    for (const Designator& g : designators) bytes += 4 + g.value.size();
    if (bytes > n) fail("device identification: designators longer than the page");
  } else if (designators.size() != 1) {
    fail("device identification: failure changed the output");
  }
  std::string serial = "unchanged";
  if (!parse_automation_serial(d, n, serial) && serial != "unchanged")
    fail("automation serial: failure changed the output");
  std::uint16_t address = 0x7777;
  if (!parse_element_address(d, n, address) && address != 0x7777)
    fail("element address: failure changed the output");
  g_sink = touch(serial) + address;
}

void sense(const std::uint8_t* d, std::size_t n) {
  Sense s;
  s.key = 0xEE;
  if (!decode_sense(d, n, s) && s.key != 0xEE) fail("sense: failure changed the output");
  // The same bytes as the sense of a CHECK CONDITION, through the classifier.
  Outcome o;
  o.status = STATUS_CHECK_CONDITION;
  o.sense.assign(d, d + n);
  const Result r = classify(o);
  g_sink = touch(describe(r));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The response is copied into a buffer of exactly its size, so a read
  // one byte past it is caught even at size 0.
  const std::vector<std::uint8_t> response(data + 1, data + size);
  const std::uint8_t* d = response.empty() ? nullptr : response.data();
  const std::size_t n = response.size();
  // The selector byte picks one of the decoders, in this order.
  using Decoder = void (*)(const std::uint8_t*, std::size_t);
  static const Decoder DECODERS[] = {element_status, element_map, inquiry, unit_serial,
                                     block_limits,   attributes,  sense,   vpd};
  DECODERS[data[0] % (sizeof DECODERS / sizeof DECODERS[0])](d, n);
  return 0;
}

// Replayed changers: a capture made by d2t_capture (d2t/capture/
// capture_file.h) served as an emulated changer.
//
// A changer of the library file given as {"capture": "FILE"} (FILE relative
// to the library file's folder) takes its identity, its elements and its
// drives from the capture; the changer's other keys ("serial_number",
// "sg_name", "target_name", "faults", ...) override what the capture says.
// Shape keys ("storage_slots", "porter_slots", "drives", "cartridges",
// "fill") are refused: the capture decides them.
//
// Element indexes of the state: the recorded storage addresses in
// ascending order, then the import/export addresses, then the data
// transfer addresses (drive n is the n-th). The recorded occupants seed
// the state; from then on positions live in the state file like those of
// any emulated library.
//
// Drives: each recorded data transfer element becomes a drive. The
// capture's drive whose "element_address" is that address, else whose
// serial number the element's recorded identifier names, is that drive,
// with its recorded identity and device names; drives the capture does
// not place fill the remaining elements in address order. An element no
// captured drive fills has no device (its serial is taken from its
// identifier when one was recorded).
#ifndef D2T_EMULATOR_REPLAY_H
#define D2T_EMULATOR_REPLAY_H

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "d2t/capture/capture_file.h"
#include "d2t/emulator/config.h"
#include "d2t/emulator/spc.h"
#include "json_spirit/json_spirit_value.h"

namespace d2t {
namespace emulator {

// The recorded INQUIRY answers of one device.
class Replay_Identity {
 public:
  explicit Replay_Identity(std::vector<d2t::capture::Exchange> exchanges)
      : exchanges_(std::move(exchanges)) {}
  // INQUIRY (standard or a VPD page): the recorded answer for the same
  // page cut to the allocation length; a page never answered GOOD gives
  // CHECK CONDITION, ILLEGAL REQUEST, invalid field in CDB.
  Reply inquiry(const std::uint8_t* cdb, std::size_t cdb_len) const;
  const std::vector<d2t::capture::Exchange>& exchanges() const { return exchanges_; }

 private:
  std::vector<d2t::capture::Exchange> exchanges_;
};

// One recorded variant (with or without device identifiers) of the
// descriptors of one element type.
struct Replay_Pages {
  bool present = false;
  std::uint8_t flags = 0;                                          // page byte 1 (PVolTag, AVolTag)
  std::uint16_t descriptor_length = 0;                             // as the changer announced it
  std::map<std::uint16_t, std::vector<std::uint8_t>> descriptors;  // by address
};

// A cartridge as recorded: its primary volume tag bytes and medium type.
struct Replay_Cartridge {
  std::vector<std::uint8_t> tag;  // 36 bytes, or empty when none was read
  std::uint8_t medium_type = 1;   // descriptor byte 9, bits 0-2
};

class Replay_Changer {
 public:
  // Reads the capture at `path`. Null with `error` set when it cannot be
  // read or holds no usable element status.
  static std::shared_ptr<const Replay_Changer> load(const std::string& path, std::string* error);

  const d2t::capture::Capture& capture() const { return capture_; }
  const Replay_Identity& identity() const { return *identity_; }

  // MODE SENSE(6)/(10) from the recorded pages (see replay_target.cpp).
  Reply mode_sense(const std::uint8_t* cdb) const;

  // Element type (1-4) and recorded addresses, ascending.
  const std::vector<std::uint16_t>& addresses(std::uint8_t type) const {
    return addresses_[type <= 4 ? type : 0];
  }
  // Element index of a storage, import/export or drive address; -1 for
  // transport addresses and addresses not recorded.
  std::int32_t element_of(std::uint16_t address) const;
  std::uint16_t address_of(std::int32_t element) const;
  bool is_transport(std::uint16_t address) const;
  // Element type of a recorded address; 0 when not recorded.
  std::uint8_t type_of(std::uint16_t address) const;

  // The descriptor pages of `type` for a request with or without device
  // identifiers: the recorded variant asked for when it exists, else the
  // other one.
  const Replay_Pages& pages(std::uint8_t type, bool device_ids) const;
  // The barcode (trimmed primary tag, "" when none) a recorded descriptor
  // shows and whether it is full.
  static bool recorded_full(const std::vector<std::uint8_t>& d);
  static std::string recorded_barcode(const std::vector<std::uint8_t>& d, std::uint8_t flags);
  // The recorded look of the cartridge with this barcode.
  const Replay_Cartridge& cartridge(const std::string& barcode) const;

  // Fills `out` (identity, shape, drives, cartridges) from the capture.
  void configure(Changer_Config& out) const;

 private:
  Replay_Changer() = default;
  bool build(std::string* error);

  d2t::capture::Capture capture_;
  std::shared_ptr<const Replay_Identity> identity_;
  // Per page code: the page bytes and the recorded MODE SENSE(6) answer.
  struct Mode_Page {
    std::vector<std::uint8_t> page;
    std::vector<std::uint8_t> answer;
    std::uint8_t cdb2 = 0;  // PC and page code of the recorded request
    std::uint8_t device_specific = 0;
  };
  std::map<std::uint8_t, Mode_Page> mode_pages_;
  // [element type][device identifiers asked]
  std::array<std::array<Replay_Pages, 2>, 5> pages_;
  std::array<std::vector<std::uint16_t>, 5> addresses_;  // by type, [0] unused
  std::map<std::uint16_t, std::int32_t> element_;        // address -> index
  std::map<std::string, Replay_Cartridge> cartridges_;
};

// When the changer object `o` names a "capture", loads it (relative to
// `folder`) into `out` and returns true; false with `err` set when it
// cannot be loaded or the object also has shape keys. True without
// touching `out` when there is no "capture".
bool apply_capture(const json_spirit::Object& o, const std::string& folder, Changer_Config& out,
                   std::string& err);

// READ ELEMENT STATUS data of a replayed changer in state `state`: the
// recorded descriptors of the elements asked for, in address order and
// grouped in pages by type, with full bit, volume tag, medium type and
// source address of each element whose occupant differs from the
// recorded one changed in place. Volume tags are left out when not asked
// for. Cutting to the allocation length is the caller's job.
std::vector<std::uint8_t> replay_element_status(const Replay_Changer& replay,
                                                const struct Changer_State& state,
                                                const struct Element_Request& request);

}  // namespace emulator
}  // namespace d2t

#endif

// Medium changer access shared by the changer operations: the element map,
// translation between element addresses and the numbers the records use,
// batched element status reads and MOVE MEDIUM. Internal header.
//
// Numbering: drive n (0-based) is the n-th data transfer element; slot n
// (1-based) is the n-th storage element, then the import/export elements
// follow (slot storage_count + 1 is the first import/export element), in
// the changer's address order. Elements of one type usually have
// consecutive addresses from the first address of the element address
// assignment page; a type whose addresses have gaps (some element exists
// at or beyond first + count) has its addresses read once when opened.
#ifndef D2T_TOOLS_CHANGER_ACCESS_H
#define D2T_TOOLS_CHANGER_ACCESS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "d2t/scsi/element_status.h"
#include "d2t/tools/scsi_device.h"

namespace d2t {
namespace tools {

class Changer_Access {
 public:
  // Opens the changer and reads its element map. Null with `result` (when
  // given) holding the failing command's result and `error` set. The
  // MODE SENSE is retried like a move (busy, becoming ready, transport
  // error) LOAD_UNLOAD_DEFAULT_RETRIES times.
  static std::unique_ptr<Changer_Access> open(const std::string& sg_name, d2t::scsi::Result* result,
                                              std::string* error);

  Changer_Access(std::unique_ptr<Scsi_Device> dev, const d2t::scsi::Element_Map& map)
      : dev_(std::move(dev)), map_(map) {}

  const d2t::scsi::Element_Map& map() const { return map_; }
  Scsi_Device& device() { return *dev_; }

  // False when the number is outside the library.
  bool drive_address(std::uint32_t drive, std::uint16_t& address) const;
  // The drive number of a data transfer element address, or -1.
  std::int32_t drive_number(std::uint16_t address) const;
  bool slot_address(std::int32_t slot, std::uint16_t& address) const;
  // The slot number of a storage or import/export element address, or 0.
  std::int32_t slot_number(std::uint16_t address) const;
  std::uint32_t slot_count() const {
    return std::uint32_t(map_.storage_count) + map_.import_export_count;
  }

  // Appends the status of `count` elements of `type` from address `first`
  // on (fewer when the changer has no more),
  // in requests of at most ELEMENTS_PER_REQUEST elements and 64 KiB; a report longer
  // than the buffer is continued from the element after the last one
  // decoded. Volume tags are asked for; data transfer elements are asked
  // for their device identifiers too. A changer that refuses either is
  // asked again without it (its elements then have no tag / identifier),
  // and so is one whose answer with identifiers cannot be decoded. A
  // request refused as busy or becoming ready (a robot moving for another
  // drive) is asked again LOAD_UNLOAD_RETRY_INTERVAL seconds later, up to
  // LOAD_UNLOAD_DEFAULT_RETRIES times.
  d2t::scsi::Result read_elements(d2t::scsi::Element_Type type, std::uint16_t first,
                                  std::uint16_t count, std::vector<d2t::scsi::Element>& out,
                                  std::string* error);
  // Storage, then import/export, then data transfer elements.
  d2t::scsi::Result read_all(std::vector<d2t::scsi::Element>& out, std::string* error);

  // MOVE MEDIUM with the first transport element, retried per policy.
  // When an attempt's answer was lost (time-out, reset: a transport error)
  // and a later attempt finds the source empty or the destination full,
  // the lost attempt may have made the move: element status decides, and
  // the move counts as done when the source is empty and the destination
  // holds a cartridge whose source address (when valid) is the source or,
  // for a cartridge sent home from a drive, the destination itself.
  d2t::scsi::Result move(std::uint16_t source, std::uint16_t destination, int retries);

  enum : std::uint16_t { ELEMENTS_PER_REQUEST = 1000 };

 private:
  // The element type of `address` by the element map; false when it is
  // outside every range.
  bool type_of(std::uint16_t address, d2t::scsi::Element_Type& type) const;
  // Whether element status shows the cartridge of `source` in
  // `destination`.
  bool moved(std::uint16_t source, std::uint16_t destination);

  // Reads the addresses of each element type whose addresses are not
  // consecutive. False when such a list cannot be read whole.
  bool read_gapped_addresses(std::string* error);

  std::unique_ptr<Scsi_Device> dev_;
  d2t::scsi::Element_Map map_;
  // Element addresses in ascending order, per type; empty while a type's
  // addresses are consecutive from the map's first address.
  std::vector<std::uint16_t> storage_addresses_, import_export_addresses_, drive_addresses_;
  bool voltag_ok_ = true;
  bool dvcid_ok_ = true;
  std::vector<std::uint8_t> buf_;  // reused by every element status read
};

}  // namespace tools
}  // namespace d2t

#endif

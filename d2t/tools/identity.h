// What a library and the host's tape drives say about which drive is
// which, read without moving a cartridge. Part of the device utility
// library (tools.h): nothing here logs, failures are returned.
#ifndef D2T_TOOLS_IDENTITY_H
#define D2T_TOOLS_IDENTITY_H

#include <cstdint>
#include <string>
#include <vector>

#include "d2t/scsi/drive_naming.h"
#include "d2t/scsi/element_status.h"

namespace d2t {
namespace tools {

// The identities compared by the rule of d2t/scsi/drive_naming.h.
using d2t::scsi::Drive_Designator;
using d2t::scsi::Drive_Identity;
using d2t::scsi::Element_Identity;

// The identity a data transfer element's status carries (drive_number
// left 0).
Element_Identity element_identity(const d2t::scsi::Element& e);

// The identifier of every data transfer element of the changer, in element
// order (one entry per element; `identifier` empty when the changer gives
// none). A changer that refuses DVCID (ILLEGAL REQUEST, invalid field in
// CDB) is asked again without it: then every identifier is empty. False
// when the changer cannot be opened or its element status read.
bool changer_identities(const std::string& changer_sg, std::vector<Element_Identity>& out);

// Reads VPD 0x00, 0x80, and (when listed in 0x00) 0x83, 0xB3 and 0xB4 of
// the drive `device` (any of its names). Pages that are not listed or not
// answered leave their fields empty. False only when the device cannot be
// opened or answers none of 0x00 and 0x80.
bool drive_identity(const std::string& device, Drive_Identity& out);

// The identity of every tape drive the host lists, by sg name; `all_read`
// false when some listed drive could not be read (left out). False when
// the devices cannot be listed.
bool host_drive_identities(std::vector<std::pair<std::string, Drive_Identity>>& out,
                           bool& all_read);

// The element identities of every changer the host lists except
// `except_sg`, one list per changer. Changers that cannot be read are
// left out.
void other_changer_identities(const std::string& except_sg,
                              std::vector<std::vector<Element_Identity>>& out);

}  // namespace tools
}  // namespace d2t

#endif

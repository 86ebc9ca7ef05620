#include "d2t/capture/command_table.h"

namespace d2t {
namespace capture {

namespace {
// Every command here only reads: identity, mode pages, element status, and
// the sense of the command before.
const Command_Rule RULES[] = {
    {0x00, 6, "TEST UNIT READY"}, {0x03, 6, "REQUEST SENSE"},   {0x12, 6, "INQUIRY"},
    {0x1A, 6, "MODE SENSE(6)"},   {0x5A, 10, "MODE SENSE(10)"}, {0xB8, 12, "READ ELEMENT STATUS"},
};
}  // namespace

const Command_Rule* read_only_rule(const std::uint8_t* cdb, std::size_t len) {
  if (cdb == nullptr || len == 0) return nullptr;
  for (const Command_Rule& r : RULES)
    if (r.opcode == cdb[0] && r.cdb_length == len) return &r;
  return nullptr;
}

}  // namespace capture
}  // namespace d2t

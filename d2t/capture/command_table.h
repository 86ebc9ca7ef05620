// The single place that decides which commands d2t_capture may send: the
// read-only ones. Nothing that moves, initialises, loads, unloads or
// writes is in the table, so no code path of the capture can send it.
#ifndef D2T_CAPTURE_COMMAND_TABLE_H
#define D2T_CAPTURE_COMMAND_TABLE_H

#include <cstddef>
#include <cstdint>

namespace d2t {
namespace capture {

struct Command_Rule {
  std::uint8_t opcode;
  std::size_t cdb_length;
  const char* name;
};

// The rule allowing `cdb`, or null when the command may not be sent (an
// opcode outside the table or a CDB of another length).
const Command_Rule* read_only_rule(const std::uint8_t* cdb, std::size_t len);

}  // namespace capture
}  // namespace d2t

#endif

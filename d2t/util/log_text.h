// Text from outside (a request, a device, a file) made fit for one log
// line. Every log line that carries such text passes it through
// log_text(): a client or a device must never be able to start a line of
// its own (a line feed in a serial number), send terminal escape sequences
// to an operator's screen, or fill the log with one field.
#ifndef D2T_UTIL_LOG_TEXT_H
#define D2T_UTIL_LOG_TEXT_H

#include <cstddef>
#include <string>

namespace d2t {

// `text` with every byte outside printable ASCII, every blank and every
// double quote written as %XX (upper-case hex), so the result is one word
// with no control characters; a percent sign is kept as it is. At most
// `max` characters of the result are kept, followed by "..." when more
// were cut. Pure.
std::string log_text(const std::string& text, std::size_t max = 256);

}  // namespace d2t

#endif

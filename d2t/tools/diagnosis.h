// Why the calling thread's last device operation failed, in words: kept
// per thread like errno, set by the operations of tools.h when they fail
// and read by the caller that decides what to log (this library logs
// nothing itself).
//
//   last_failure()      the outcome of the last failed load, unload, move
//                       or status read: the SCSI outcome in words
//                       ("sense NOT READY, medium not present (02/3A/00)",
//                       "transport error ...", "operating system error:
//                       Permission denied (errno 13)") or the reason it was
//                       refused before any command ("slot 3 holds another
//                       cartridge"). Left as it is by successes.
//   listing_error()     why the last device listing failed ("" when it
//                       did not): the emulated library file's key and
//                       problem, or the sysfs or /dev error.
//   listing_left_out()  devices the last listing left out, each with why
//                       ("/dev/sg3: Permission denied").
#ifndef D2T_TOOLS_DIAGNOSIS_H
#define D2T_TOOLS_DIAGNOSIS_H

#include <string>
#include <vector>

#include "d2t/scsi/sense.h"

namespace d2t {
namespace tools {

const std::string& last_failure();
const std::string& listing_error();
const std::vector<std::string>& listing_left_out();

// Forgets the last failure (a caller about to try an operation).
void clear_failure();
// Setters, for the operations of this library.
void note_failure(const d2t::scsi::Result& r);
void note_refusal(const std::string& why);
void note_listing(const std::string& error, std::vector<std::string> left_out);

}  // namespace tools
}  // namespace d2t

#endif

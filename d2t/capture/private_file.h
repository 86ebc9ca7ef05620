// Writing a file that holds private data (serial numbers, barcodes) so
// that no other account reads it and no planted link redirects it.
#ifndef D2T_CAPTURE_PRIVATE_FILE_H
#define D2T_CAPTURE_PRIVATE_FILE_H

#include <string>

namespace d2t {
namespace capture {

// Writes `text` to `path` through a new temporary file in the same folder
// (random name, created exclusively with mode 0600, so no existing file or
// symbolic link is opened), flushed to disk, then renamed over `path`: a
// reader sees the old file or the whole new one, and a link at `path`
// itself is replaced, never followed. The result keeps mode 0600. False
// with a reason naming the file in `error` when the folder cannot take
// the file; nothing is left behind then.
bool write_private_file(const std::string& path, const std::string& text, std::string& error);

}  // namespace capture
}  // namespace d2t

#endif

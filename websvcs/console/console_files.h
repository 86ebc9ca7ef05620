// The console's static files, read once from a folder into memory.
//
// Only regular files directly in the folder whose extension has a known
// type (.html .css .js .svg .ico .png .txt) are kept; names are the
// file names. Reading happens at start-up so a request never touches the
// disk, and a file replaced later is served as it was when read.
#ifndef WEBSVCS_CONSOLE_CONSOLE_FILES_H
#define WEBSVCS_CONSOLE_CONSOLE_FILES_H

#include <map>
#include <string>

namespace console {

struct Static_File {
  std::string body;
  std::string content_type;
};

// The Content-Type of a file name by its extension, or null when the
// extension is not one the console serves.
const char* content_type_of(const std::string& name);

class Console_Files {
 public:
  // Reads every servable file of `dir`. False with `error` set when the
  // folder cannot be listed, a file cannot be read, or "index.html" is
  // missing (the files read so far are dropped).
  bool load(const std::string& dir, std::string& error);

  // The file named `name`, or null. Names holding "/" or starting with "."
  // are never found.
  const Static_File* find(const std::string& name) const;
  std::size_t size() const { return files_.size(); }

 private:
  std::map<std::string, Static_File> files_;
};

// The default folder: "../share/console" beside the folder of the shared
// object holding this code (the build tree and the installed prefix both
// have that shape).
std::string default_console_dir();

}  // namespace console

#endif

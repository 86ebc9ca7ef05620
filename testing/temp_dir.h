// Temporary files for tests: a fresh folder removed with its content, and
// a file written whole through a rename.
#ifndef TESTING_TEMP_DIR_H
#define TESTING_TEMP_DIR_H

#include <string>

namespace test_support {

// A fresh folder under $TMPDIR (else /tmp), removed with everything in it
// when the object goes. When no folder can be made the test fails
// (ADD_FAILURE) and path() is "".
class Temp_Dir {
 public:
  explicit Temp_Dir(const std::string& prefix = "d2t_test");
  ~Temp_Dir();
  Temp_Dir(const Temp_Dir&) = delete;
  Temp_Dir& operator=(const Temp_Dir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(const std::string& name) const { return file(name); }
  // Writes `text` as the file `name` (write_file) and returns its path.
  std::string write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

// Writes `text` to `path` through "<path>.new" and a rename, so that a
// reader (the emulator, a watched configuration) never sees half a file.
// A failure fails the test (ADD_FAILURE) and returns false.
bool write_file(const std::string& path, const std::string& text);
// The whole content of `path`; "" when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace test_support

#endif

// A temporary directory removed with its content when the test ends.
#ifndef RUNTIME_TESTS_TEMP_DIR_H
#define RUNTIME_TESTS_TEMP_DIR_H

#include <cstdlib>
#include <string>

#include <ftw.h>
#include <stdexcept>
#include <unistd.h>

class Temp_Dir {
 public:
  Temp_Dir() {
    char tmpl[] = "/tmp/runtime_test_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~Temp_Dir() {
    nftw(path_.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
  }
  Temp_Dir(const Temp_Dir&) = delete;
  Temp_Dir& operator=(const Temp_Dir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  static int remove_one(const char* p, const struct stat*, int, struct FTW*) {
    ::remove(p);
    return 0;
  }
  std::string path_;
};

#endif

#include "testing/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace test_support {

Temp_Dir::Temp_Dir(const std::string& prefix) {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / (prefix + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) != nullptr)
    path_ = pattern;
  else
    ADD_FAILURE() << "cannot make a temporary folder " << pattern;
}

Temp_Dir::~Temp_Dir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string Temp_Dir::write(const std::string& name, const std::string& text) const {
  const std::string path = file(name);
  write_file(path, text);
  return path;
}

bool write_file(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".new";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << text;
    if (!out.flush()) {
      ADD_FAILURE() << "cannot write " << tmp;
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    ADD_FAILURE() << "cannot rename " << tmp << " to " << path;
    return false;
  }
  return true;
}

std::string read_file(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

}  // namespace test_support

// Scratch files for the message tests: a folder removed with the fixture, and helpers to
// write and read whole files.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/StringUtils.h"

namespace mailtest {

class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/kadenza-msg-XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (made == nullptr)
      throw std::runtime_error("mkdtemp failed");
    path_ = made;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Write creates a file in the folder and returns its full path.
  std::string Write(const std::string& name, const std::string& data) const {
    const std::string full = path_ + "/" + name;
    std::ofstream(full, std::ios::binary) << data;
    return full;
  }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string s(n, '\0');
  for (char& c : s)
    c = static_cast<char>(byte(rng));
  return s;
}

// The source lines joined as they go on the wire.
inline std::string Wire(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines)
    out += line + "\r\n";
  return out;
}

}  // namespace mailtest

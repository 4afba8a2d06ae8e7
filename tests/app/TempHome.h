// A private home for one test: a temporary folder with XDG_DATA_HOME and XDG_CONFIG_HOME
// pointing into it, removed again at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "core/ScopeGuard.h"
#include "support/ScopedEnv.h"

class TempHome {
 public:
  TempHome()
      : root_(MakeRoot()),
        removeRoot_([root = root_] {
          std::error_code ec;
          std::filesystem::permissions(root, std::filesystem::perms::owner_all, ec);
          std::filesystem::remove_all(root, ec);
        }),
        home_(testsupport::SetEnvForScope("HOME", root_.string())),
        dataHome_(testsupport::SetEnvForScope("XDG_DATA_HOME", (root_ / "data").string())),
        configHome_(testsupport::SetEnvForScope("XDG_CONFIG_HOME", (root_ / "config").string())) {}
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path DataFolder() const { return root_ / "data" / "Kadenza"; }

  static std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::filesystem::path& p, const std::string& content) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }

 private:
  static std::filesystem::path MakeRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kz-app-XXXXXX").string();
    return ::mkdtemp(pattern.data());
  }

  std::filesystem::path root_;
  // Declared after root_, so they run first at the end: the variables are put back, then
  // the folder goes.
  kz::ScopeGuard<std::function<void()>> removeRoot_;
  testsupport::ScopedEnv home_, dataHome_, configHome_;
};

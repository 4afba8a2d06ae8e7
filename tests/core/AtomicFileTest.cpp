// Whole-file replacement and reading in a private temporary folder.
#include "core/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "core/Error.h"

namespace {

namespace fs = std::filesystem;

class AtomicFile : public testing::Test {
 protected:
  AtomicFile() {
    std::string pattern = (fs::temp_directory_path() / "kz-core-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
  }
  ~AtomicFile() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  // Only the named files are in the folder: no temporary file stayed behind.
  int FileCount() const {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_))
      ++n;
    return n;
  }
  static unsigned Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
  }
  template <class F>
  static int ErrorOf(F&& f) {
    try {
      f();
    } catch (const EclError& e) {
      return e.ErrorCode;
    }
    return 0;
  }

  fs::path dir_;
};

struct WriteCase {
  const char* name;
  std::string before;  // empty: no file yet
  std::string content;
  unsigned mode;
};

void PrintTo(const WriteCase& row, std::ostream* os) {
  *os << row.name;
}

class AtomicFileWrite : public AtomicFile, public testing::WithParamInterface<WriteCase> {};

TEST_P(AtomicFileWrite, ReplacesTheWholeFileWithItsMode) {
  const WriteCase& row = GetParam();
  const std::string path = Path("f.dat");
  if (!row.before.empty())
    std::ofstream(path, std::ios::binary) << row.before;
  kz::WriteFileAtomically(path, row.content, {row.mode, true});
  bool exists = false;
  EXPECT_EQ(kz::ReadWholeFile(path, 1 << 20, &exists), row.content);
  EXPECT_TRUE(exists);
  EXPECT_EQ(Mode(path), row.mode);
  EXPECT_EQ(FileCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AtomicFileWrite,
    testing::Values(WriteCase{"NewOwnerOnly", "", "secret", 0600},
                    WriteCase{"ShorterOverLonger", std::string(100000, 'x'), "short", 0600},
                    WriteCase{"EmptyContent", "old", "", 0600},
                    WriteCase{"WiderMode", "", std::string(200000, '\0') + "end", 0644}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AtomicFile, SymbolicLinkIsRefusedAndItsTargetKept) {
  const std::string target = Path("target");
  std::ofstream(target) << "kept";
  ASSERT_EQ(::symlink(target.c_str(), Path("link").c_str()), 0);
  EXPECT_EQ(ErrorOf([&] { kz::WriteFileAtomically(Path("link"), "new"); }), ELOOP);
  EXPECT_EQ(kz::ReadWholeFile(target, 100), "kept");
  EXPECT_EQ(FileCount(), 2);
}

TEST_F(AtomicFile, FailedRenameLeavesNoTemporaryFile) {
  fs::create_directory(Path("busy"));  // a folder cannot be replaced by a file
  EXPECT_EQ(ErrorOf([&] { kz::WriteFileAtomically(Path("busy"), "data"); }), EISDIR);
  EXPECT_EQ(FileCount(), 1);
}

TEST_F(AtomicFile, MissingFolderFailsWithTheSystemError) {
  EXPECT_EQ(ErrorOf([&] { kz::WriteFileAtomically(Path("no/such/file"), "x"); }), ENOENT);
}

TEST_F(AtomicFile, MissingFileReadsEmptyAndTooLargeIsRefused) {
  bool exists = true;
  EXPECT_EQ(kz::ReadWholeFile(Path("missing"), 10, &exists), "");
  EXPECT_FALSE(exists);
  std::ofstream(Path("big")) << std::string(11, 'b');
  EXPECT_EQ(ErrorOf([&] { kz::ReadWholeFile(Path("big"), 10); }), EFBIG);
  EXPECT_EQ(kz::ReadWholeFile(Path("big"), 11), std::string(11, 'b'));
}

TEST_F(AtomicFile, MakeDirectoriesCreatesParentsWithTheMode) {
  const std::string deep = Path("a/b/c");
  kz::MakeDirectories(deep, 0700);
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_EQ(Mode(Path("a")), 0700u);
  std::ofstream(Path("plain")) << "";
  EXPECT_EQ(ErrorOf([&] { kz::MakeDirectories(Path("plain"), 0700); }), ENOTDIR);
}

}  // namespace

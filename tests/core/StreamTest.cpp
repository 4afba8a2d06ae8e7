#include "core/Stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "core/Error.h"

namespace {

TEST(MemoryStream, ReadWriteSeek) {
  TMemoryStream s;
  s.Write(std::string_view("hello world"));
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Position(), 11);
  s.SetPosition(6);
  EXPECT_EQ(s.ReadAll(), "world");
  s.SetPosition(0);
  s.Write(std::string_view("HE"));
  EXPECT_EQ(s.Data(), "HEllo world");
  EXPECT_EQ(s.Seek(-100, SeekOrigin::Current), 0);
  s.SetPosition(20);
  char buf[4];
  EXPECT_EQ(s.Read(buf), 0u);
  s.Write(std::string_view("!"));  // writing past the end zero-fills the gap
  EXPECT_EQ(s.Size(), 21);
  s.SetSize(5);
  EXPECT_EQ(s.Position(), 5);
}

TEST(MemoryStream, CopyFromHonoursCount) {
  TMemoryStream src(std::string(200000, 'x'));
  TMemoryStream dst;
  EXPECT_EQ(dst.CopyFrom(src, 70000), 70000);
  EXPECT_EQ(dst.CopyFrom(src), 130000);
  EXPECT_EQ(dst.Size(), 200000);
}

TEST(FileStream, CreateWriteReadAndPermissions) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("kz-stream-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "f.bin").string();
  {
    TFileStream f(path, TFileStream::Mode::Create, 0600);
    f.Write(std::string_view("abc\0def", 7));
  }
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  {
    TFileStream f(path, TFileStream::Mode::Read);
    EXPECT_EQ(f.Size(), 7);
    f.SetPosition(4);
    EXPECT_EQ(f.ReadAll(), "def");
  }
  try {
    TFileStream missing((dir / "none").string(), TFileStream::Mode::Read);
    FAIL() << "opening a missing file must raise";
  } catch (const EclError& e) {
    EXPECT_EQ(e.ErrorCode, ENOENT);
    EXPECT_NE(std::string(e.what()).find("none"), std::string::npos);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace

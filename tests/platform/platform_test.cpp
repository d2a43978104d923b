#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"

namespace kelp::platform {
namespace {

using test::ByteVec;

TEST(OpenUnshared, HoldsTheFileAgainstASecondOpen) {
  test::TempDir dir;
  std::string path = (dir.path / "held.img").string();
  test::write_file(path, test::text_bytes("payload"));
  std::optional<File> first = open_unshared(path);
  ASSERT_TRUE(first);
  EXPECT_FALSE(open_unshared(path));
  EXPECT_EQ(file_size(*first), 7u);
  std::vector<std::uint8_t> into(7);
  int error = -1;
  EXPECT_EQ(read_whole(*first, into, error), 7u);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(into, test::text_bytes("payload"));
  close_file(*first);
  std::optional<File> again = open_unshared(path);
  ASSERT_TRUE(again);
  close_file(*again);
}

TEST(OpenUnshared, RefusesMissingFilesDirectoriesAndPipes) {
  test::TempDir dir;
  EXPECT_FALSE(open_unshared((dir.path / "missing.img").string()));
  EXPECT_FALSE(open_unshared(dir.path.string()));
  std::string fifo = (dir.path / "pipe.img").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(open_unshared(fifo));  // and does not wait for a writer
}

TEST(ReadWhole, StopsAtTheFileEnd) {
  test::TempDir dir;
  std::string path = (dir.path / "short.img").string();
  test::write_file(path, test::text_bytes("abc"));
  std::optional<File> file = open_unshared(path);
  ASSERT_TRUE(file);
  std::vector<std::uint8_t> into(10, 0xEE);
  int error = -1;
  EXPECT_EQ(read_whole(*file, into, error), 3u);
  EXPECT_EQ(error, 0);
  close_file(*file);
}

TEST(CreateNewFile, NeverOpensWhatExists) {
  test::TempDir dir;
  std::string path = (dir.path / "out.bmp").string();
  Creation made = create_new_file(path);
  ASSERT_EQ(made.status, CreateStatus::created);
  EXPECT_EQ(write_all(made.file, test::text_bytes("first")), 0);
  EXPECT_EQ(close_file(made.file), 0);
  EXPECT_EQ(create_new_file(path).status, CreateStatus::exists);
  EXPECT_EQ(test::read_file(path), test::text_bytes("first"));
  EXPECT_EQ(create_new_file((dir.path / "no/such/dir.bmp").string()).status, CreateStatus::failed);
  EXPECT_TRUE(path_exists(path));
  EXPECT_FALSE(path_exists((dir.path / "absent").string()));
}

}  // namespace
}  // namespace kelp::platform

// Temporary copies on POSIX systems: private mode, chunked progress, cancel between chunks,
// sizes beyond 4 GiB and the rules for the temporary folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "FileDuplication_un.h"
#include "RunTestSupport.h"

using namespace mrv;
using mrvtest::TPrivateTempDir;

TEST(FileDuplicationPosix, PrivateFileNamedWithFourHexDigitsAndProgressPerMebibyte) {
  TPrivateTempDir tmp;
  const std::int64_t size = (5 << 20) / 2;  // two full chunks and a half
  const std::string source = tmp.MakeFile("src.abs", static_cast<size_t>(size));
  TFileDuplication duplication;
  std::vector<std::pair<std::int64_t, std::int64_t>> reports;
  duplication.OnProgress = [&](std::int64_t d, std::int64_t t) { reports.emplace_back(d, t); };
  std::string path;
  ASSERT_TRUE(duplication.Duplicate(source, "mrv", path));

  const std::string name = std::filesystem::path(path).filename().string();
  EXPECT_EQ(name.size(), 11u) << name;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {
      {1 << 20, size}, {2 << 20, size}, {size, size}};
  EXPECT_EQ(reports, expected);
  std::filesystem::remove(path);
}

TEST(FileDuplicationPosix, CancelFromAnotherThreadStopsBetweenChunks) {
  TPrivateTempDir tmp;
  const std::string source = tmp.MakeFile("big.abs", 6u << 20);
  TFileDuplication duplication;
  mrvtest::TEvent firstChunk, cancelled;
  std::int64_t lastDone = 0;
  duplication.OnProgress = [&](std::int64_t done, std::int64_t) {
    lastDone = done;
    firstChunk.Set();
    cancelled.Wait();
  };
  std::thread canceller([&] {
    firstChunk.Wait();
    duplication.Cancel();
    cancelled.Set();
  });
  std::string path;
  EXPECT_FALSE(duplication.Duplicate(source, "mrv", path));
  canceller.join();
  EXPECT_EQ(lastDone, 1 << 20);
  EXPECT_EQ(path, "");
  EXPECT_TRUE(tmp.TempCopies().empty());  // the partial copy is gone
}

TEST(FileDuplicationPosix, SizesBeyondFourGibibytesAndTemporaryFolderRules) {
  TPrivateTempDir tmp;
  const std::string sparse = tmp.Folder() + "huge.abs";
  {
    std::FILE* f = std::fopen(sparse.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(::ftruncate(::fileno(f), 4294967296LL + 5), 0);
    std::fclose(f);
  }
  std::string error;
  EXPECT_EQ(TFileDuplication::GetFileSize(sparse, error), 4294967301LL);

  // A missing temporary folder is created; one too long for a 260-character path is replaced
  // by the current directory.
  const std::string nested = tmp.Folder() + "a/b";
  TPrivateTempDir::SetVariable("TMPDIR", nested.c_str());
  EXPECT_EQ(TFileDuplication::GetTempFolder(), nested + "/");
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  const std::string longFolder = tmp.Folder() + std::string(247 - tmp.Folder().size(), 'x');
  TPrivateTempDir::SetVariable("TMPDIR", longFolder.c_str());  // 247 + '/' + zero + 12 = 261
  EXPECT_EQ(TFileDuplication::GetTempFolder(), std::filesystem::current_path().string() + "/");
  const std::string fits = longFolder.substr(0, longFolder.size() - 1);
  TPrivateTempDir::SetVariable("TMPDIR", fits.c_str());
  EXPECT_EQ(TFileDuplication::GetTempFolder(), fits + "/");
}

TEST(FileDuplicationPosix, CopiesUntilTheFileEndsNotToItsStatedSize) {
  // A pseudo file claims size 0 (and older kernels copy nothing from it in the kernel); its
  // text must still arrive whole.
  std::string text;
  {
    std::ifstream in("/proc/self/mountinfo");
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_FALSE(text.empty());
  TFileDuplication duplication;
  std::string path;
  ASSERT_TRUE(duplication.Duplicate("/proc/self/mountinfo", "mrv", path));
  std::ifstream copy(path, std::ios::binary);
  const std::string copied((std::istreambuf_iterator<char>(copy)),
                           std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  // The reader's own mounts: the same lines unless a mount changed in between.
  EXPECT_GE(copied.size(), text.size() / 2);
  EXPECT_EQ(copied.substr(0, 40), text.substr(0, 40));
}

// Temporary copies: naming, permissions, chunked progress, cancel, clean-up after failures.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "FileDuplication_un.h"
#include "RunTestSupport.h"

using namespace mrv;
using mrvtest::TPrivateTempDir;

TEST(FileDuplication, CopiesIntoAPrivateUniqueFileWithProgressPerChunk) {
  TPrivateTempDir tmp;
  const std::int64_t size = (5 << 20) / 2;  // 2.5 MiB: two full chunks and a half
  const std::string source = tmp.MakeFile("src.abs", static_cast<size_t>(size));
  TFileDuplication duplication;
  std::vector<std::pair<std::int64_t, std::int64_t>> reports;
  duplication.OnProgress = [&](std::int64_t d, std::int64_t t) { reports.emplace_back(d, t); };

  std::string first, second;
  ASSERT_TRUE(duplication.Duplicate(source, "mrv", first));
  ASSERT_TRUE(duplication.Duplicate(source, "mrv", second));
  EXPECT_NE(first, second);
  for (const auto& path : {first, second}) {
    const std::string name = std::filesystem::path(path).filename().string();
    EXPECT_EQ(std::filesystem::path(path).parent_path().string(), tmp.Path());
    EXPECT_EQ(name.size(), 11u) << name;  // mrvXXXX.tmp
    EXPECT_EQ(name.substr(0, 3), "mrv");
    EXPECT_EQ(name.substr(7), ".tmp");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(mrvtest::ReadAll(path), mrvtest::ReadAll(source));
  }
  const std::vector<std::pair<std::int64_t, std::int64_t>> once = {
      {1 << 20, size}, {2 << 20, size}, {size, size}};
  ASSERT_EQ(reports.size(), 6u);
  EXPECT_EQ(std::vector(reports.begin(), reports.begin() + 3), once);
  std::filesystem::remove(first);
  std::filesystem::remove(second);
}

TEST(FileDuplication, BadPrefixRaisesBeforeAnythingIsCreated) {
  TPrivateTempDir tmp;
  const std::string source = tmp.MakeFile("src.abs", 10);
  TFileDuplication duplication;
  std::string path = "stale";
  for (const char* prefix : {"mr", "mrvx"}) {
    try {
      duplication.Duplicate(source, prefix, path);
      ADD_FAILURE() << "no exception";
    } catch (const EFileDuplication& e) {
      EXPECT_STREQ(e.what(), "Prefix must be 3 characters long.");
    }
  }
  EXPECT_EQ(path, "");
  EXPECT_TRUE(tmp.TempCopies().empty());
}

TEST(FileDuplication, FailedOrCancelledCopyLeavesNothingBehind) {
  TPrivateTempDir tmp;
  TFileDuplication duplication;
  std::string path;
  try {
    duplication.Duplicate(tmp.Path() + "/missing.abs", "mrv", path);
    ADD_FAILURE() << "no exception";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.Code(), ENOENT);
    EXPECT_EQ(std::string(e.what()), "System Error.  Code: 2.\r\n" + TFileDuplication::SystemErrorText(ENOENT));
  }
  EXPECT_EQ(path, "");
  EXPECT_TRUE(tmp.TempCopies().empty());

  // Cancelled from another thread while the copy runs: stops between chunks.
  const std::string source = tmp.MakeFile("big.abs", 6u << 20);
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
  EXPECT_FALSE(duplication.Duplicate(source, "mrv", path));
  canceller.join();
  EXPECT_EQ(lastDone, 1 << 20);
  EXPECT_EQ(path, "");
  EXPECT_TRUE(tmp.TempCopies().empty());
  // Once cancelled, later copies with the same object are cancelled too.
  EXPECT_FALSE(duplication.Duplicate(tmp.MakeFile("small.abs", 3), "mrv", path));
  EXPECT_TRUE(tmp.TempCopies().empty());
}

TEST(FileDuplication, SizesAndFoldersOfTheFreeSpaceCheck) {
  TPrivateTempDir tmp;
  std::string error = "stale";
  const std::string sparse = tmp.Path() + "/huge.abs";
  {
    std::FILE* f = std::fopen(sparse.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(::ftruncate(::fileno(f), 4294967296LL + 5), 0);  // 4 GiB + 5, sparse
    std::fclose(f);
  }
  EXPECT_EQ(TFileDuplication::GetFileSize(sparse, error), 4294967301LL);
  EXPECT_EQ(error, "");
  EXPECT_EQ(TFileDuplication::GetFileSize(tmp.Path(), error), -1);
  EXPECT_EQ(error, "File '" + tmp.Path() + "' is a directory.");
  EXPECT_THROW(TFileDuplication::GetFileSize(tmp.Path() + "/none", error), EOSError);

  EXPECT_EQ(TFileDuplication::GetTempFolder(), tmp.Path() + "/");
  EXPECT_GT(TFileDuplication::GetFreeBytes(tmp.Path()), 0);
  EXPECT_EQ(TFileDuplication::GetFreeBytes(tmp.Path() + "/none/deeper"), -1);

  // A missing temporary folder is created; one too long for a 260-character path is replaced
  // by the current directory.
  const std::string nested = tmp.Path() + "/a/b";
  ::setenv("TMPDIR", nested.c_str(), 1);
  EXPECT_EQ(TFileDuplication::GetTempFolder(), nested + "/");
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  const std::string longFolder = tmp.Path() + "/" + std::string(247 - tmp.Path().size() - 1, 'x');
  ::setenv("TMPDIR", longFolder.c_str(), 1);  // 247 + '/' + zero + 12 = 261
  const std::string cwd = std::filesystem::current_path().string() + "/";
  EXPECT_EQ(TFileDuplication::GetTempFolder(), cwd);
  const std::string fits = longFolder.substr(0, longFolder.size() - 1);
  ::setenv("TMPDIR", fits.c_str(), 1);
  EXPECT_EQ(TFileDuplication::GetTempFolder(), fits + "/");
}

// Temporary copies on every platform: naming, content, bad prefixes, clean-up after failures.
#include <gtest/gtest.h>

#include <filesystem>

#include "FileDuplication_un.h"
#include "RunTestSupport.h"

using namespace mrv;
using mrvtest::TPrivateTempDir;

TEST(FileDuplication, CopiesIntoUniqueFilesInTheTemporaryFolder) {
  TPrivateTempDir tmp;
  const std::string source = tmp.MakeFile("src.abs", 70000);
  TFileDuplication duplication;
  std::string first, second;
  ASSERT_TRUE(duplication.Duplicate(source, "mrv", first));
  ASSERT_TRUE(duplication.Duplicate(source, "mrv", second));
  EXPECT_NE(first, second);
  for (const auto& path : {first, second}) {
    EXPECT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::path(tmp.Path()));
    EXPECT_EQ(mrvtest::ReadAll(path), mrvtest::ReadAll(source));
  }
  EXPECT_EQ(tmp.TempCopies().size(), 2u);  // named mrv*.tmp
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
    duplication.Duplicate(tmp.Folder() + "missing.abs", "mrv", path);
    ADD_FAILURE() << "no exception";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.Code(), 2);  // file not found, on both platforms
    EXPECT_EQ(std::string(e.what()),
              "System Error.  Code: 2.\r\n" + TFileDuplication::SystemErrorText(2));
  }
  EXPECT_EQ(path, "");
  EXPECT_TRUE(tmp.TempCopies().empty());

  mrvtest::TUnreadableSource unreadable(tmp);
  EXPECT_THROW(duplication.Duplicate(unreadable.Path(), "mrv", path), EOSError);
  EXPECT_TRUE(tmp.TempCopies().empty());

  // Once cancelled, every later copy with the same object is cancelled.
  duplication.Cancel();
  EXPECT_FALSE(duplication.Duplicate(tmp.MakeFile("small.abs", 3), "mrv", path));
  EXPECT_EQ(path, "");
  EXPECT_TRUE(tmp.TempCopies().empty());
}

TEST(FileDuplication, SizeOfFilesAndDirectories) {
  TPrivateTempDir tmp;
  std::string error = "stale";
  EXPECT_EQ(TFileDuplication::GetFileSize(tmp.MakeFile("f.abs", 12345), error), 12345);
  EXPECT_EQ(error, "");
  EXPECT_EQ(TFileDuplication::GetFileSize(tmp.Path(), error), -1);
  EXPECT_EQ(error, "File '" + tmp.Path() + "' is a directory.");
  EXPECT_THROW(TFileDuplication::GetFileSize(tmp.Folder() + "none", error), EOSError);

  EXPECT_EQ(TFileDuplication::GetTempFolder(), tmp.Folder());
  EXPECT_GT(TFileDuplication::GetFreeBytes(tmp.Folder()), 0);
  EXPECT_EQ(TFileDuplication::GetFreeBytes(tmp.Folder() + "none"), -1);
}

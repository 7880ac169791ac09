// Writes the seed corpus of the database-opening fuzzer when MRV_FUZZ_SEED_DIR is set:
//   MRV_FUZZ_SEED_DIR=fuzz/corpus edb_tests --gtest_filter='StorageSeeds.*'
// Each seed is a small database made by our own writer: plain, enciphered with several cipher
// ids, placed behind other bytes, with freed pages, and with an odd page size.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "EdbPageManager.h"

using namespace edb;

namespace {

std::vector<uint8_t> MakeDb(const TEdbPassword& pw, uint16_t pageSize, int pages, bool freeOne) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  {
    TEdbDiskPageManager pm(std::make_unique<TEdbMemoryFileStore>(bytes), 16);
    pm.CreateDatabase("seed.abs", pw, 8, pageSize);
    std::vector<int32_t> nos;
    for (int i = 0; i < pages; ++i) {
      TEdbPage* p = pm.AddPage(0, uint16_t(ptFileSystemDirectory + i % 9));
      for (uint32_t k = 0; k < p->DataSize(); ++k) p->Data()[k] = uint8_t(k * 7 + i);
      p->SetNextPage(i + 1 < pages ? p->PageNo() + 1 : -1);
      nos.push_back(p->PageNo());
      pm.ReleasePage(p);
    }
    pm.Commit(0);
    if (freeOne && !nos.empty()) {
      pm.DeletePage(0, nos.front());
      pm.Commit(0);
    }
    pm.NextObjectID();
    pm.CloseDatabase();
  }
  return *bytes;
}

void WriteSeed(const std::filesystem::path& dir, const std::string& name,
               const std::vector<uint8_t>& b) {
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

}  // namespace

TEST(StorageSeeds, WriteOpenDatabaseCorpus) {
  const char* root = std::getenv("MRV_FUZZ_SEED_DIR");
  if (!root) GTEST_SKIP() << "set MRV_FUZZ_SEED_DIR to write the seed corpus";
  const std::filesystem::path dir = std::filesystem::path(root) / "open_database";
  std::filesystem::create_directories(dir);
  WriteSeed(dir, "plain_512", MakeDb({}, 512, 5, false));
  WriteSeed(dir, "plain_freed_256", MakeDb({}, 256, 9, true));
  WriteSeed(dir, "plain_odd_pagesize", MakeDb({}, 97, 4, false));
  for (uint8_t id : {ciRijndael128, ciDesTriple, ciBlowfish, ciSquare})
    WriteSeed(dir, "cipher_" + std::to_string(id), MakeDb({"fuzz", id}, 256, 3, false));
  std::vector<uint8_t> shifted(300, 0x11);
  std::vector<uint8_t> db = MakeDb({}, 256, 3, false);
  shifted.insert(shifted.end(), db.begin(), db.end());
  WriteSeed(dir, "behind_other_bytes", shifted);
  SUCCEED();
}

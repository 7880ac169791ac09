#pragma once
// The database file: where a database lies in its file and the records in front of its pages.
// All integers are little-endian. Offsets are relative to the base, the file offset at which the
// database begins (0 unless the signature search finds it behind other data).
//
// Region map, in file order (offsets of a database written by this engine; each region after
// the first is placed by a length stored in the file itself):
//
//   offset  size                        region
//   0       76                          file header (its length: header offset 16)
//   76      280                         password check block (its length: block offset 0)
//   356     20                          lock area (its length: area offset 0)
//   376     4                           object-ID counter, int32
//   380     page size * total pages     page area: page n at page-area start + n * page size
//
// Page-area start = header length + check-block length + lock-area length + 4.
//
// File header (76 bytes):
//
//   offset  size  meaning
//   0       16    signature: the 16 bytes of kEdbSignature, no terminator
//   16      2     header length, int16: 76
//   18      8     format version, IEEE double: 5.12 (below 2.99: old format)
//   26      2     page size, uint16
//   28      2     pages per extent, uint16 (drives the free-space map)
//   30      4     total page count, int32
//   34      4     last allocated page, int32 (-1 in a new file)
//   38      4     change counter, int32 (once per committed write transaction)
//   42      1     state: 2 consistent, 1 a commit is writing pages
//   43      1     encrypted: 0 plain, 0xFF with a password (any non-zero counts)
//   44      32    reserved, zero
//
// Password check block (280 bytes):
//
//   offset  size  meaning
//   0       2     block length, int16: 280
//   2       1     cipher id of an encrypted database, else 0
//   3       1     reserved
//   4       256   check data: random bytes 0..254, enciphered with the password
//   260     4     CRC of the check data before enciphering, uint32
//   264     16    reserved
//
// Lock area (20 bytes): the length word, int16 (20), and 18 reserved bytes. Byte 3 is the
// tables lock, byte 4 the header lock (byte-range locks; their contents are never read).
// Object-ID counter: int32; its first byte is the object-ID lock.

#include <cstddef>
#include <cstdint>

namespace edb {

// The 16 signature bytes at the start of a database.
extern const uint8_t kEdbSignature[16];
constexpr size_t kEdbSignatureSize = 16;
constexpr int16_t kEdbFileHeaderSize = 76;
constexpr int64_t kEdbCheckBlockSize = 280;
constexpr int64_t kEdbLockAreaSize = 20;
constexpr int64_t kEdbObjectIdCounterSize = 4;

constexpr uint16_t kEdbDefaultPageSize = 4096;
constexpr uint16_t kEdbDefaultPagesPerExtent = 8;
constexpr double kEdbCurrentVersion = 5.12;
// Below this version a file is of the old format (needs-repair).
constexpr double kEdbOldFormatVersion = 2.99;
// Values of the header's state byte.
constexpr uint8_t kEdbStateCommitting = 1;
constexpr uint8_t kEdbStateConsistent = 2;
// The encrypted byte the engine writes for a database with a password.
constexpr uint8_t kEdbEncryptedMark = 0xFF;

// Offsets of the file header fields.
namespace filehdr {
constexpr size_t kSignature = 0;           // 16 bytes
constexpr size_t kHeaderLength = 16;       // int16
constexpr size_t kVersion = 18;            // float64
constexpr size_t kPageSize = 26;           // uint16
constexpr size_t kPagesPerExtent = 28;     // uint16
constexpr size_t kTotalPageCount = 30;     // int32
constexpr size_t kLastAllocatedPage = 34;  // int32
constexpr size_t kChangeCounter = 38;      // int32
constexpr size_t kState = 42;              // uint8
constexpr size_t kEncrypted = 43;          // uint8
}  // namespace filehdr

// Offsets of the password check block fields.
namespace checkblk {
constexpr size_t kLength = 0;     // int16
constexpr size_t kCipherId = 2;   // uint8
constexpr size_t kCheckData = 4;  // kCheckDataSize bytes
constexpr size_t kCheckDataSize = 256;
constexpr size_t kCrc = 260;  // uint32
}  // namespace checkblk

// Offsets in the lock area.
namespace lockarea {
constexpr size_t kLength = 0;  // int16
constexpr size_t kLengthSize = 2;
constexpr int64_t kTablesLockByte = 3;
constexpr int64_t kHeaderLockByte = 4;
}  // namespace lockarea

// Windows of the signature search; consecutive windows overlap by the signature plus the
// header-length word that must follow it.
constexpr size_t kEdbSignatureWindow = 10000;
constexpr size_t kEdbSignatureOverlap = kEdbSignatureSize + 2;

// The 76-byte file header in memory.
struct TEdbFileHeader {
  uint8_t Signature[kEdbSignatureSize] = {};
  int16_t HeaderLength = kEdbFileHeaderSize;
  double Version = kEdbCurrentVersion;
  uint16_t PageSize = kEdbDefaultPageSize;
  uint16_t PagesPerExtent = kEdbDefaultPagesPerExtent;
  int32_t TotalPageCount = 0;
  int32_t LastAllocatedPage = -1;
  int32_t ChangeCounter = 0;
  uint8_t State = kEdbStateConsistent;
  uint8_t Encrypted = 0;

  void Parse(const uint8_t* bytes76);
  void Serialize(uint8_t* bytes76) const;
};

// The 280-byte password check block in memory.
struct TEdbCheckBlock {
  int16_t Length = int16_t(kEdbCheckBlockSize);
  uint8_t CipherId = 0;
  uint8_t CheckData[checkblk::kCheckDataSize] = {};
  uint32_t Crc = 0;

  void Parse(const uint8_t* bytes280);
  void Serialize(uint8_t* bytes280) const;
};

}  // namespace edb

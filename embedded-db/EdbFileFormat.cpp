// The file header and password check block: their in-memory records to and from the bytes.

#include "EdbFileFormat.h"

#include <cstring>

#include "EdbEndian.h"

namespace edb {

const uint8_t kEdbSignature[16] = {0x41, 0x42, 0x53, 0x30, 0x4C, 0x55, 0x54, 0x45,
                                   0x44, 0x41, 0x54, 0x41, 0x42, 0x41, 0x53, 0x45};

void TEdbFileHeader::Parse(const uint8_t* b) {
  std::memcpy(Signature, b + filehdr::kSignature, kEdbSignatureSize);
  HeaderLength = GetI16(b + filehdr::kHeaderLength);
  const uint64_t bits = GetU64(b + filehdr::kVersion);
  std::memcpy(&Version, &bits, 8);
  PageSize = GetU16(b + filehdr::kPageSize);
  PagesPerExtent = GetU16(b + filehdr::kPagesPerExtent);
  TotalPageCount = GetI32(b + filehdr::kTotalPageCount);
  LastAllocatedPage = GetI32(b + filehdr::kLastAllocatedPage);
  ChangeCounter = GetI32(b + filehdr::kChangeCounter);
  State = b[filehdr::kState];
  Encrypted = b[filehdr::kEncrypted];
}

void TEdbFileHeader::Serialize(uint8_t* b) const {
  std::memset(b, 0, size_t(kEdbFileHeaderSize));
  std::memcpy(b + filehdr::kSignature, Signature, kEdbSignatureSize);
  PutI16(b + filehdr::kHeaderLength, HeaderLength);
  uint64_t bits;
  std::memcpy(&bits, &Version, 8);
  PutU64(b + filehdr::kVersion, bits);
  PutU16(b + filehdr::kPageSize, PageSize);
  PutU16(b + filehdr::kPagesPerExtent, PagesPerExtent);
  PutI32(b + filehdr::kTotalPageCount, TotalPageCount);
  PutI32(b + filehdr::kLastAllocatedPage, LastAllocatedPage);
  PutI32(b + filehdr::kChangeCounter, ChangeCounter);
  b[filehdr::kState] = State;
  b[filehdr::kEncrypted] = Encrypted;
}

void TEdbCheckBlock::Parse(const uint8_t* b) {
  Length = GetI16(b + checkblk::kLength);
  CipherId = b[checkblk::kCipherId];
  std::memcpy(CheckData, b + checkblk::kCheckData, checkblk::kCheckDataSize);
  Crc = GetU32(b + checkblk::kCrc);
}

void TEdbCheckBlock::Serialize(uint8_t* b) const {
  std::memset(b, 0, size_t(kEdbCheckBlockSize));
  PutI16(b + checkblk::kLength, Length);
  b[checkblk::kCipherId] = CipherId;
  std::memcpy(b + checkblk::kCheckData, CheckData, checkblk::kCheckDataSize);
  PutU32(b + checkblk::kCrc, Crc);
}

}  // namespace edb

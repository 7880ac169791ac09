#include "EdbEndian.h"

#include "EdbException.h"

namespace edb {

const uint8_t* TEdbByteReader::Take(size_t n, int code) {
  if (n > size_ - pos_) {
    EdbRaise(code,
             "Cannot read from stream. Position = %lld, Stream size = %lld, Block size = %lld, "
             "Bytes Read = %lld",
             static_cast<long long>(pos_), static_cast<long long>(size_), static_cast<long long>(n),
             static_cast<long long>(size_ - pos_));
  }
  const uint8_t* p = data_ + pos_;
  pos_ += n;
  return p;
}

}  // namespace edb

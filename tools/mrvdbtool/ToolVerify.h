#pragma once
// Verification of a conversion: per table, the rows of the source file against the rows of
// the External Database, compared by count and by an order-independent digest over the
// transferred columns (the target's key column left out). Values are compared as the record
// transfer sends them: text as UTF-8, date-times to the millisecond, and the Greylisting
// GREY_SIGNATURE_24 as the transfer fills it (the stored value, or the computed signature
// where the source has none).

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DbTransfer_un.h"

namespace ado {
class Connection;
}

namespace mrvtool {

// A multiset digest: the row count and the sum (mod 2^128) of the first 128 bits of each
// row's SHA-256. Equal row sets give equal digests whatever their order; a duplicated row
// counts twice.
class TRowSetDigest {
 public:
  void AddRow(std::string_view canonicalRow);
  std::int64_t Rows() const { return rows_; }
  // The 128-bit sum as 32 hexadecimal digits.
  std::string Hex() const;
  bool operator==(const TRowSetDigest&) const = default;

 private:
  std::int64_t rows_ = 0;
  std::uint64_t hi_ = 0, lo_ = 0;
};

// Canonical text of one row: every value tagged with its kind and length, so that a null, an
// empty text and a date-time can never be mistaken for each other.
class TCanonicalRow {
 public:
  void Clear() { text_.clear(); }
  void Null() { text_ += "N;"; }
  void Text(std::string_view utf8);
  // A serial date-time (days since 1899-12-30), written to the millisecond.
  void DateTime(double serial);
  const std::string& Str() const { return text_; }

 private:
  std::string text_;
};

// The digest of every table of `kind` in the file at `path` (opened read-only), in table
// order, over the values the record transfer would insert. Raises ESourcePassword when the
// file refuses `password`, and an error when the file, a table or a required field cannot be
// read.
std::vector<TRowSetDigest> DigestSourceFile(const std::string& path, mrv::TDatabaseKind kind,
                                            std::uint32_t codePage, const std::string& password);

// The digest of a target table's transferred columns, over the rows whose key is greater than
// `afterKey` (every row when it has no value). Reads in pages ordered by the key.
TRowSetDigest DigestTargetTable(ado::Connection& connection, const mrv::TTransferTableDef& table,
                                std::optional<std::int64_t> afterKey);

// The rows of a target table and its largest key (no value when the table is empty).
struct TTargetRows {
  std::int64_t Count = 0;
  std::optional<std::int64_t> MaxKey;
};
TTargetRows CountTargetRows(ado::Connection& connection, const mrv::TTransferTableDef& table);

// One row of the verification table.
struct TTableVerification {
  mrv::TDatabaseKind Kind = mrv::dkAswl;
  std::string Table;
  TRowSetDigest Source, Target;
  // Rows that were already in the target and kept: only the rows after them are compared.
  std::optional<std::int64_t> KeptRows;
  std::string Problem;  // why the table could not be compared (counts as a difference)
  bool Same() const { return Problem.empty() && Source == Target; }
};

// Prints the verification table and a closing line; returns the number of tables that differ
// or could not be compared.
int PrintVerification(const std::vector<TTableVerification>& tables, std::FILE* out);

// Exit status of a verification that found differences.
inline constexpr int VerifyDifferenceExitCode = 4;

}  // namespace mrvtool

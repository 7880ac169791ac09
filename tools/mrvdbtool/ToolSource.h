#pragma once
// Read-only access to a mail-filter database file for the inspection commands, the dry run and
// the verification: the live file is opened without write access (the mail filter may have it
// open), its tables and required fields are checked as the conversion checks its temporary
// copy, and its records are counted.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "DbConversionInfo_un.h"

namespace edb {
class TEdbDatabase;
}

namespace mrvtool {

// Raised when an encrypted file refuses the password (or the lack of one); what() names the
// file, never the password.
class ESourcePassword : public std::runtime_error {
 public:
  ESourcePassword(const std::string& path, bool passwordGiven);
  const std::string& Path() const { return path_; }
  bool PasswordGiven() const { return passwordGiven_; }

 private:
  std::string path_;
  bool passwordGiven_;
};

// A database file opened read-only and silently under an alias of its own; closed on
// destruction.
class TReadOnlySource {
 public:
  // Raises ESourcePassword when the file is encrypted and `password` is missing or wrong, and
  // the storage library's error when the file cannot be opened otherwise.
  TReadOnlySource(const std::string& path, std::uint32_t codePage, const std::string& password);
  ~TReadOnlySource();
  TReadOnlySource(const TReadOnlySource&) = delete;
  TReadOnlySource& operator=(const TReadOnlySource&) = delete;
  const std::string& Alias() const { return alias_; }
  edb::TEdbDatabase& Db() { return *db_; }

 private:
  std::string alias_;
  std::unique_ptr<edb::TEdbDatabase> db_;
};

struct TSourceCheck {
  std::string Error;                 // the conversion's own text for the first problem, or empty
  std::vector<std::int64_t> Counts;  // records per table in list order (0 when unreadable)
};

// Opens the file read-only and checks every table of `kind` and its required fields, with the
// messages a conversion run gives for its temporary copy; counts the records of each table.
TSourceCheck CheckSourceFile(const std::string& path, mrv::TDatabaseKind kind,
                             std::uint32_t codePage, const std::string& password);

}  // namespace mrvtool

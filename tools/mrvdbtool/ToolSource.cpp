#include "ToolSource.h"

#include "BaseText.h"

#include <atomic>

#include "DbTransfer_un.h"
#include "EdbMain.h"

namespace mrvtool {

ESourcePassword::ESourcePassword(const std::string& path, bool passwordGiven)
    : std::runtime_error(mrv::EncryptedFileText(path, passwordGiven)),
      path_(path),
      passwordGiven_(passwordGiven) {}

TReadOnlySource::TReadOnlySource(const std::string& path, std::uint32_t codePage,
                                 const std::string& password)
    : db_(std::make_unique<edb::TEdbDatabase>()) {
  static std::atomic<int> counter{0};
  alias_ = "mrvdbtool_source_" + std::to_string(++counter);
  db_->SetDatabaseName(alias_);
  db_->SetDatabaseFileName(path);
  db_->SetPassword(password);
  db_->SetCodePage(codePage);
  db_->SetSilentMode(true);
  db_->SetReadOnly(true);
  db_->SetDisableTempFiles(true);
  try {
    db_->Open();
  } catch (const std::exception& e) {
    if (mrv::IsSourcePasswordError(e)) throw ESourcePassword(path, !password.empty());
    throw;
  }
}

TReadOnlySource::~TReadOnlySource() {
  try {
    db_->Close();
  } catch (...) {
  }
}

TSourceCheck CheckSourceFile(const std::string& path, mrv::TDatabaseKind kind,
                             std::uint32_t codePage, const std::string& password) {
  const char* name = mrv::DatabaseDisplayName(kind);
  const auto& tables = mrv::TransferTableDefs(kind);
  TSourceCheck check;
  check.Counts.assign(tables.size(), 0);
  std::unique_ptr<TReadOnlySource> source;
  try {
    source = std::make_unique<TReadOnlySource>(path, codePage, password);
  } catch (const ESourcePassword& e) {
    check.Error = mrv::SourcePasswordMessage(kind, path, e.PasswordGiven());
    return check;
  } catch (const std::exception&) {
    check.Error = base::Format(
        "Could not open the source %s database.\r\nPlease make sure that the file is a valid Mrv "
        "database.",
        name);
    return check;
  }
  for (size_t i = 0; i < tables.size() && check.Error.empty(); ++i) {
    edb::TEdbTable table;
    table.SetDatabaseName(source->Alias());
    table.SetTableName(tables[i].Name);
    try {
      table.Open();
    } catch (const std::exception& e) {
      check.Error = base::Format(
                        "Could not access the main table of the source %s database.\r\nPlease make "
                        "sure that the file is a valid Mrv %s database.",
                        name, name) +
                    "\r\n\r\n" + mrv::ExceptionDetailBlock(e);
      break;
    }
    for (const char* field : tables[i].RequiredFields) {
      if (table.FieldDefs().IndexOf(field) < 0) {
        check.Error = base::Format(
            "Invalid source %s database.\r\nPlease make sure that it is a valid Mrv %s database "
            "file.",
            name, name);
        break;
      }
    }
    check.Counts[i] = table.RecordCount();
    table.Close();
  }
  return check;
}

}  // namespace mrvtool

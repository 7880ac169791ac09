#include "ToolVerifyRun.h"

#include "Ado.h"
#include "ToolFormat.h"
#include "ToolSource.h"

namespace mrvtool {

namespace {

// Compares the tables of one database with its target; `kept` (when not empty) gives per
// table the rows that were in the target before the run and are left out of the comparison.
void CompareWithTarget(mrv::TDatabaseKind kind, const std::string& connectionString,
                       const std::vector<TRowSetDigest>& source,
                       const std::vector<TTargetRows>& kept, std::vector<TTableVerification>& out) {
  const auto& defs = mrv::TransferTableDefs(kind);
  const size_t first = out.size();
  for (size_t i = 0; i < defs.size(); ++i) {
    TTableVerification t;
    t.Kind = kind;
    t.Table = defs[i].Name;
    if (i < source.size()) t.Source = source[i];
    if (i < kept.size() && kept[i].Count > 0) t.KeptRows = kept[i].Count;
    out.push_back(t);
  }
  try {
    ado::ComInitializer com;
    ado::Connection connection;
    connection.SetConnectionString(connectionString);
    connection.Open();
    for (size_t i = 0; i < defs.size(); ++i) {
      TTableVerification& t = out[first + i];
      try {
        const std::optional<std::int64_t> after = i < kept.size() ? kept[i].MaxKey : std::nullopt;
        t.Target = DigestTargetTable(connection, defs[i], after);
      } catch (const std::exception& e) {
        t.Problem = ConsoleText(std::string("the target table could not be read: ") + e.what(),
                                connectionString);
      }
    }
    connection.Close();
  } catch (const std::exception& e) {
    for (size_t i = first; i < out.size(); ++i)
      out[i].Problem = ConsoleText(std::string("could not connect to the target: ") + e.what(),
                                   connectionString);
  }
}

}  // namespace

// The run's transfer of one database, with the verification's notes taken around it.
class TVerifyingTransfer : public mrv::IDbTransfer {
 public:
  TVerifyingTransfer(std::unique_ptr<mrv::IDbTransfer> inner, TConvertVerification& owner,
                     mrv::TDbConversionInfo& info, mrv::TDatabaseKind kind)
      : inner_(std::move(inner)), owner_(owner), info_(info), kind_(kind) {}

  void ConnectTarget() override {
    inner_->ConnectTarget();
    if (!info_.IsOk()) return;
    TConvertVerification::TKind& k = owner_.kinds_[kind_];
    const std::string& conn = info_.Task(kind_).TargetConnectionString;
    // A target the run is still to create (--create-schema) keeps no rows.
    const auto& defs = mrv::TransferTableDefs(kind_);
    if (ado::SqliteFileMissing(conn)) {
      k.Kept.assign(defs.size(), TTargetRows{});
      return;
    }
    try {
      ado::Connection connection;
      connection.SetConnectionString(conn);
      connection.Open();
      for (const mrv::TTransferTableDef& def : defs)
        k.Kept.push_back(ado::TableExists(connection, def.Name) ? CountTargetRows(connection, def)
                                                                : TTargetRows{});
      connection.Close();
    } catch (const std::exception& e) {
      k.Problem = ConsoleText(
          std::string("the rows kept in the target could not be counted: ") + e.what(), conn);
    }
  }

  void CheckSource(const std::string& path) override { inner_->CheckSource(path); }

  void Transfer(const std::string& path) override {
    inner_->Transfer(path);
    if (!info_.IsOk()) return;
    TConvertVerification::TKind& k = owner_.kinds_[kind_];
    k.Transferred = true;
    info_.ReportStatusFmt("Reading the temporary copy of the %s database for the verification...",
                          mrv::DatabaseDisplayName(kind_));
    try {
      k.Source = DigestSourceFile(path, kind_, owner_.codePage_,
                                  info_.Task(kind_).SourcePassword.value_or(""));
    } catch (const std::exception& e) {
      k.Problem = std::string("the temporary copy could not be read: ") + e.what();
    }
  }

 private:
  std::unique_ptr<mrv::IDbTransfer> inner_;
  TConvertVerification& owner_;
  mrv::TDbConversionInfo& info_;
  mrv::TDatabaseKind kind_;
};

mrv::TDbTransferFactory TConvertVerification::Wrap(mrv::TDbTransferFactory inner) {
  return [this, inner](mrv::TDbConversionInfo& info,
                       mrv::TDatabaseKind kind) -> std::unique_ptr<mrv::IDbTransfer> {
    return std::make_unique<TVerifyingTransfer>(inner(info, kind), *this, info, kind);
  };
}

int TConvertVerification::Finish(const mrv::TDbConversionInfo& info, std::FILE* out) {
  std::vector<TTableVerification> tables;
  for (int k = 0; k < mrv::DatabaseKindCount; ++k) {
    const TKind& state = kinds_[k];
    if (!state.Transferred) continue;
    const auto kind = mrv::TDatabaseKind(k);
    if (!state.Problem.empty()) {
      for (const mrv::TTransferTableDef& def : mrv::TransferTableDefs(kind)) {
        TTableVerification t;
        t.Kind = kind;
        t.Table = def.Name;
        t.Problem = state.Problem;
        tables.push_back(t);
      }
      continue;
    }
    CompareWithTarget(kind, info.Task(kind).TargetConnectionString, state.Source, state.Kept,
                      tables);
  }
  return PrintVerification(tables, out) == 0 ? 0 : VerifyDifferenceExitCode;
}

int VerifyDatabases(const mrv::TDbConversionInfo& info, std::uint32_t codePage, std::FILE* out) {
  std::vector<TTableVerification> tables;
  bool any = false;
  for (int k = 0; k < mrv::DatabaseKindCount; ++k) {
    const auto kind = mrv::TDatabaseKind(k);
    const mrv::TConversionTask& task = info.Task(kind);
    if (!task.Selected) continue;
    any = true;
    if (task.TargetConnectionString.empty()) {
      std::fprintf(stderr, "Empty %s target connection string.\n", mrv::DatabaseDisplayName(kind));
      return 1;
    }
    std::vector<TRowSetDigest> source;
    std::string problem;
    try {
      source = DigestSourceFile(task.SourcePath, kind, codePage, task.SourcePassword.value_or(""));
    } catch (const ESourcePassword& e) {
      // Not a difference: nothing could be compared.
      const std::string text = mrv::SourcePasswordMessage(kind, task.SourcePath, e.PasswordGiven());
      std::fprintf(stderr, "%s\n", EscapeControlChars(ConsoleText(text, ""), true).c_str());
      return 1;
    } catch (const std::exception& e) {
      problem = std::string("the source file could not be read: ") + e.what();
    }
    const size_t first = tables.size();
    CompareWithTarget(kind, task.TargetConnectionString, source, {}, tables);
    if (!problem.empty())
      for (size_t i = first; i < tables.size(); ++i) tables[i].Problem = problem;
  }
  if (!any) {
    std::fprintf(stderr, "No database specified to be verified.\n");
    return 1;
  }
  return PrintVerification(tables, out) == 0 ? 0 : VerifyDifferenceExitCode;
}

}  // namespace mrvtool

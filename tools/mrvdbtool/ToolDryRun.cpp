#include "ToolDryRun.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "Ado.h"
#include "BaseText.h"
#include "DbTransfer_un.h"
#include "FileDuplication_un.h"
#include "ToolFormat.h"
#include "ToolSource.h"
#include "ToolVerify.h"

namespace mrvtool {

namespace {

using mrv::TDatabaseKind;

// What one database's target holds: per table its row count, or no value when the table is
// missing (or the target could not be reached).
struct TTargetState {
  bool Reached = false;
  bool NewFile = false;  // a SQLite file the run would create
  std::vector<std::optional<std::int64_t>> Rows;
};

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(std::u8string(path.begin(), path.end())),
                                 ec);
}

std::int64_t CountRows(ado::Connection& connection, const char* table) {
  ado::Command cmd;
  cmd.SetActiveConnection(connection);
  cmd.SetCommandType(ado::adCmdText);
  cmd.SetCommandText(base::Format("SELECT COUNT(*) FROM %s;", table));
  ado::Recordset rs = cmd.Execute();
  const std::int64_t n = rs.Fields(0).Value().AsInt64();
  rs.Close();
  return n;
}

// Connects and counts like the run's ConnectTarget, without asking, deleting or creating.
TTargetState InspectTarget(TDatabaseKind kind, const std::string& conn, bool createSchema,
                           std::vector<std::string>& problems) {
  const auto& defs = mrv::TransferTableDefs(kind);
  TTargetState state;
  state.Rows.assign(defs.size(), std::nullopt);
  const char* name = mrv::DatabaseDisplayName(kind);
  try {
    const ado::BackendChoice choice = ado::ChooseBackend(conn);
    if (choice.Kind == ado::BackendKind::Sqlite && choice.CreateIfMissing &&
        !FileExists(choice.Target)) {
      // Opening would create the file: report it as new and empty instead.
      state.NewFile = state.Reached = true;
      if (!createSchema)
        problems.push_back(base::Format(
            "The target %s database is a new SQLite file without tables; add --create-schema to "
            "create them.",
            name));
      return state;
    }
    ado::ComInitializer com;
    ado::Connection connection;
    connection.SetConnectionString(conn);
    connection.Open();
    state.Reached = true;
    for (size_t i = 0; i < defs.size(); ++i) {
      try {
        state.Rows[i] = CountRows(connection, defs[i].Name);
      } catch (const std::exception& e) {
        if (createSchema) continue;
        problems.push_back(ConsoleText(mrv::MissingTableMessage(name, defs[i].Name) + "\r\n\r\n" +
                                           mrv::ExceptionDetailBlock(e),
                                       conn));
      }
    }
    connection.Close();
  } catch (const std::exception& e) {
    problems.push_back(ConsoleText(
        base::Format("Could not connect to the target %s database.\r\n\r\nMake sure the database "
                     "has been created,\r\nand the database server is up and running.",
                     name) +
            "\r\n\r\n" + mrv::ExceptionDetailBlock(e),
        conn));
  }
  return state;
}

// What the run does with the rows a target already holds, as one word for the plan; problems
// for the answers that stop the run.
std::string ExistingRowsAction(TDatabaseKind kind, std::int64_t held, const TDryRunSettings& s,
                               std::vector<std::string>& problems) {
  if (held <= 0) return "";
  const char* name = mrv::DatabaseDisplayName(kind);
  if (s.Existing == "delete") return "delete";
  if (s.Existing == "keep") return "keep";
  if (s.Existing == "cancel") {
    problems.push_back(base::Format(
        "The target %s database holds %lld rows and --existing cancel cancels the run.", name,
        static_cast<long long>(held)));
    return "cancel";
  }
  if (s.CanAsk) return "ask";
  problems.push_back(base::Format(
      "The target %s database is not empty and there is no terminal to ask what to do with its "
      "rows.\nRun again with --existing delete, --existing keep or --existing cancel.",
      name));
  return "ask";
}

std::string PlanText(const std::string& action, std::optional<std::int64_t> targetRows,
                     bool reached, bool createSchema, std::int64_t sourceRows) {
  const std::string insert = "insert " + std::to_string(sourceRows);
  if (!reached) return "-";
  if (!targetRows) return createSchema ? "create the table, " + insert : "-";
  const std::string held = std::to_string(*targetRows);
  if (action == "delete") return "delete " + held + ", " + insert;
  if (action == "keep") return "keep " + held + ", " + insert;
  if (action == "cancel") return "cancel the run";
  if (action == "ask") return "ask: delete or keep " + held + ", then " + insert;
  return insert;
}

void CheckService(const TDryRunSettings& s, std::FILE* out, std::vector<std::string>& problems) {
  if (s.ServiceName.empty()) {
    std::fprintf(out, "Service: none is stopped (--no-service).\n");
    return;
  }
  try {
    auto services = s.Services ? s.Services : mrv::DefaultServiceControl();
    if (!services->ServiceExists(s.ServiceName))
      std::fprintf(out, "Service %s: not installed; nothing is stopped.\n", s.ServiceName.c_str());
    else if (!services->IsServiceRunning(s.ServiceName))
      std::fprintf(out, "Service %s: not running; nothing is stopped.\n", s.ServiceName.c_str());
    else
      std::fprintf(out,
                   "Service %s: running; a real run stops it while the copies are made and "
                   "then starts it again.\n",
                   s.ServiceName.c_str());
  } catch (const std::exception& e) {
    problems.push_back("The state of the service " + s.ServiceName +
                       " could not be queried: " + e.what());
  }
}

// The run's free-space check: the summed sizes of the selected files against the space in
// the temporary folder.
void CheckFreeSpace(const mrv::TDbConversionInfo& info, const TDryRunSettings& s, std::FILE* out,
                    std::vector<std::string>& problems) {
  std::int64_t total = 0;
  for (const mrv::TConversionTask& task : info.Tasks) {
    if (!task.Selected || !FileExists(task.SourcePath)) continue;
    std::string errorText;
    try {
      const std::int64_t size = mrv::TFileDuplication::GetFileSize(task.SourcePath, errorText);
      if (errorText.empty()) total += size;
    } catch (const std::exception&) {
    }
  }
  const std::string folder = mrv::TFileDuplication::GetTempFolder();
  const std::int64_t free =
      s.FreeSpace ? s.FreeSpace(folder) : mrv::TFileDuplication::GetFreeBytes(folder);
  std::fprintf(out, "Temporary copies: %lld bytes in %s (%lld bytes free).\n",
               static_cast<long long>(total), folder.c_str(), static_cast<long long>(free));
  if (free < total)
    problems.push_back(
        base::Format("There is not enough space in %s.\n%lld additional bytes needed.",
                     folder.c_str(), static_cast<long long>(total - free)));
}

}  // namespace

int DryRunConversion(mrv::TDbConversionInfo& info, const TDryRunSettings& s, std::FILE* out) {
  std::vector<std::string> problems;
  info.Validate();
  if (!info.GetError().empty()) problems.push_back(ConsoleText(info.GetError(), ""));

  std::fprintf(out, "Dry run: nothing is stopped, copied or written.\n\n");
  CheckService(s, out, problems);
  CheckFreeSpace(info, s, out, problems);

  std::fprintf(out, "\n%-27s %-18s %12s %12s  %s\n", "Database", "Table", "Source rows",
               "Target rows", ("Plan (--existing " + s.Existing + ")").c_str());
  for (int k = 0; k < mrv::DatabaseKindCount; ++k) {
    const auto kind = TDatabaseKind(k);
    const mrv::TConversionTask& task = info.Task(kind);
    if (!task.Selected) continue;
    const auto& defs = mrv::TransferTableDefs(kind);
    TSourceCheck source;
    source.Counts.assign(defs.size(), 0);
    if (FileExists(task.SourcePath)) {
      source = CheckSourceFile(task.SourcePath, kind, s.CodePage, task.SourcePassword.value_or(""));
      if (!source.Error.empty()) problems.push_back(ConsoleText(source.Error, ""));
    }
    TTargetState target;
    target.Rows.assign(defs.size(), std::nullopt);
    if (!task.TargetConnectionString.empty())
      target = InspectTarget(kind, task.TargetConnectionString, s.CreateSchema, problems);
    std::int64_t held = 0;
    for (const auto& r : target.Rows) held += r.value_or(0);
    const std::string action = ExistingRowsAction(kind, held, s, problems);
    for (size_t i = 0; i < defs.size(); ++i) {
      const std::string rows = !target.Reached  ? "-"
                               : target.Rows[i] ? std::to_string(*target.Rows[i])
                                                : "missing";
      std::fprintf(
          out, "%-27s %-18s %12lld %12s  %s\n", mrv::DatabaseDisplayName(kind), defs[i].Name,
          static_cast<long long>(source.Counts[i]), rows.c_str(),
          PlanText(action, target.Rows[i], target.Reached, s.CreateSchema, source.Counts[i])
              .c_str());
    }
  }
  std::fprintf(out, "\n");
  for (const std::string& p : problems) std::fprintf(out, "Problem: %s\n", p.c_str());
  if (problems.empty())
    std::fprintf(out, "A real run would start.\n");
  else
    std::fprintf(out, "A real run would not start (%zu problem%s).\n", problems.size(),
                 problems.size() == 1 ? "" : "s");
  std::fflush(out);
  return problems.empty() ? 0 : 1;
}

}  // namespace mrvtool

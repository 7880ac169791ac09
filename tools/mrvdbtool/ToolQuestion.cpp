#include "ToolQuestion.h"

#include "Ado.h"
#include "DbTransfer_un.h"
#include "ToolVerify.h"

namespace mrvtool {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// 1500 -> "1,500"
std::string Grouped(std::int64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

std::optional<mrv::TTargetNotEmptyAnswer> ParseExistingRowsAnswer(std::string_view line) {
  while (!line.empty() && static_cast<unsigned char>(line.front()) <= ' ') line.remove_prefix(1);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.remove_suffix(1);
  const std::string word = Lower(line);
  if (word == "d" || word == "delete") return mrv::taDelete;
  if (word == "k" || word == "keep") return mrv::taKeep;
  if (word == "c" || word == "cancel") return mrv::taCancel;
  return std::nullopt;
}

std::string ExistingRowsQuestion(mrv::TDatabaseKind kind, std::int64_t rows) {
  const std::string held =
      rows < 0 ? std::string("rows") : Grouped(rows) + (rows == 1 ? " row" : " rows");
  return std::string("The target ") + mrv::DatabaseDisplayName(kind) + " database already holds " +
         held + ". [d]elete " + (rows == 1 ? "it" : "them") + ", [k]eep " +
         (rows == 1 ? "it" : "them") + " or [c]ancel the conversion? ";
}

std::int64_t CountTargetDatabaseRows(const std::string& connectionString, mrv::TDatabaseKind kind) {
  try {
    ado::Connection connection;
    connection.SetConnectionString(connectionString);
    connection.Open();
    std::int64_t total = 0;
    for (const mrv::TTransferTableDef& def : mrv::TransferTableDefs(kind))
      total += CountTargetRows(connection, def).Count;
    connection.Close();
    return total;
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace mrvtool

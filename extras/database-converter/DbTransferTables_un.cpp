// The fixed tables of the four databases (insert statements, parameters, required source
// fields), the schema created for them, and the Greylisting signature.
#include "BaseText.h"
#include "DbTransfer_un.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

namespace mrv {

const char* const ExternalDatabaseGuide =
    "the External Databases guide (external-databases.html beside this program).";

std::string MissingTableMessage(const char* displayName, const char* table) {
  return base::Format(
      "The %s (%s) table was not found in the target External Database. Make sure that the "
      "database schema is already prepared for the conversion.\r\nLearn more about creating "
      "External Databases in \r\n%s",
      displayName, table, ExternalDatabaseGuide);
}

namespace {

using ado::adDate;
using ado::adVarChar;

const std::vector<TTransferTableDef>& AswlTables() {
  static const std::vector<TTransferTableDef> t = {
      {"ASWL",
       "ASWL_ID",
       "INSERT INTO ASWL(\r\n  ASWL_SENDER_EMAIL, ASWL_SENDER_DOMAIN, \r\n  ASWL_RECIPIENT_EMAIL, "
       "ASWL_LASTHIT) \r\n  VALUES(?, ?, ?, ?);",
       {{"@ASWL_SENDER_EMAIL", adVarChar, 255, "ASWL_SENDER_EMAIL", "ASWL_SENDER_EMAIL"},
        {"@ASWL_SENDER_DOMAIN", adVarChar, 255, "ASWL_SENDER_DOMAIN", "ASWL_SENDER_DOMAIN"},
        {"@ASWL_RECIPIENT_EMAIL", adVarChar, 255, "ASWL_RECIPIENT_EMAIL", "ASWL_RECIPIENT_EMAIL"},
        {"@ASWL_LASTHIT", adDate, 0, "ASWL_LASTHIT", "ASWL_LASTHIT"}},
       {"ASWL_SENDER_EMAIL", "ASWL_SENDER_DOMAIN", "ASWL_RECIPIENT_EMAIL", "ASWL_LASTHIT"}}};
  return t;
}

const std::vector<TTransferTableDef>& GreyTables() {
  static const std::vector<TTransferTableDef> t = {
      {"GREY",
       "GREY_ID",
       "INSERT INTO GREY(\r\n  GREY_SIGNATURE, GREY_SIGNATURE_24, GREY_IP, GREY_SENDER, \r\n  "
       "GREY_RECIPIENT, GREY_CREATED, GREY_LASTHIT)\r\n  VALUES(?, ?, ?, ?, ?, ?, ?);",
       {{"@GREY_SIGNATURE", adVarChar, 32, "GREY_SIGNATURE", "GREY_SIGNATURE"},
        {"@GREY_SIGNATURE_24", adVarChar, 32, "GREY_SIGNATURE_24", "GREY_SIGNATURE_24"},
        {"@GREY_IP", adVarChar, 45, "GREY_IP", "GREY_IP"},
        {"@GREY_SENDER", adVarChar, 255, "GREY_SENDER", "GREY_SENDER"},
        {"@GREY_RECIPIENT", adVarChar, 255, "GREY_RECIPIENT", "GREY_RECIPIENT"},
        {"@GREY_CREATED", adDate, 0, "GREY_CREATED", "GREY_CREATED"},
        {"@GREY_LASTHIT", adDate, 0, "GREY_LASTHIT", "GREY_LASTHIT"}},
       {"GREY_SIGNATURE", "GREY_IP", "GREY_SENDER", "GREY_RECIPIENT", "GREY_CREATED",
        "GREY_LASTHIT"}}};
  return t;
}

const std::vector<TTransferTableDef>& DhaTables() {
  static const std::vector<TTransferTableDef> t = {
      {"DhaHistory",
       "Id",
       "INSERT INTO DhaHistory(IpAddress, AttemptTime)\r\nVALUES(?, ?);",
       {{"@IPAddress", adVarChar, 45, "IpAddress", "IpAddress"},
        {"@AttemptTime", adDate, 0, "AttemptTime", "AttemptTime"}},
       {"IpAddress", "AttemptTime"}},
      {"DhaBlacklist",
       "Id",
       "INSERT INTO DhaBlacklist(IpAddress, LastUpdateTime)\r\nVALUES(?, ?);",
       {{"@IPAddress", adVarChar, 15, "IpAddress", "IpAddress"},
        {"@LastUpdateTime", adDate, 0, "LastUpdateTime", "LastUpdateTime"}},
       {"IpAddress", "LastUpdateTime"}}};
  return t;
}

const std::vector<TTransferTableDef>& HoneypotTables() {
  static const std::vector<TTransferTableDef> t = {
      {"HoneypotBlacklist",
       "Id",
       "INSERT INTO HoneypotBlacklist(IpAddress, LastUpdateTime)\r\nVALUES(?, ?);",
       {{"@IPAddress", adVarChar, 45, "IpAddress", "IpAddress"},
        {"@LastUpdateTime", adDate, 0, "LastUpdateTime", "LastUpdateTime"}},
       {"IpAddress", "LastUpdateTime"}}};
  return t;
}

}  // namespace

const std::vector<TTransferTableDef>& TransferTableDefs(TDatabaseKind kind) {
  switch (kind) {
    case dkAswl: return AswlTables();
    case dkGrey: return GreyTables();
    case dkDha: return DhaTables();
    case dkHoneypot: return HoneypotTables();
  }
  throw EDbTransfer("Not implemented.");
}

ado::TableDef TargetTableSchema(const TTransferTableDef& table) {
  ado::TableDef def;
  def.Name = table.Name;
  def.KeyColumn = table.KeyColumn;
  const bool dhaBlacklist = std::string(table.Name) == "DhaBlacklist";
  for (const TTransferParamDef& p : table.Params) {
    ado::ColumnDef c;
    c.Name = p.Column;
    c.Kind = p.Type == adDate ? ado::ColumnKind::DateTime : ado::ColumnKind::VarChar;
    c.Size = (dhaBlacklist && p.Type == adVarChar) ? 45 : p.Size;
    def.Columns.push_back(c);
  }
  return def;
}

std::string ComputeSignature24(const std::string& ipAnsi, const std::string& senderAnsi,
                               const std::string& recipientAnsi) {
  const size_t dot = ipAnsi.rfind('.');
  std::string text = dot == std::string::npos ? ipAnsi : ipAnsi.substr(0, dot);
  text += '\t';
  text += senderAnsi;
  text += '\t';
  text += recipientAnsi;

  CryptoPP::Weak::MD5 md5;
  unsigned char digest[CryptoPP::Weak::MD5::DIGESTSIZE];
  md5.CalculateDigest(digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * sizeof digest);
  for (unsigned char b : digest) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

std::vector<std::string> CreateTargetTables(const std::string& connectionString,
                                            TDatabaseKind kind) {
  ado::ComInitializer
      com;  // callers may run this on a thread of their own (COM for ADO on Windows)
  ado::Connection connection;
  connection.SetCreateIfMissing(true);
  connection.SetConnectionString(connectionString);
  connection.Open();
  std::vector<std::string> created;
  for (const TTransferTableDef& table : TransferTableDefs(kind))
    if (ado::CreateTableIfMissing(connection, TargetTableSchema(table)))
      created.push_back(table.Name);
  connection.Close();
  return created;
}

}  // namespace mrv

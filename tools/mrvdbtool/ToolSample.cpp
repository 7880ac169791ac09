#include "ToolSample.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <filesystem>

#include "EdbBlobWriter.h"
#include "EdbFormatWriter.h"
#include "EdbMain.h"

namespace mrvtool {

namespace {

constexpr uint32_t kSampleCodePage = 1252;

// splitmix64: small, fast and the same everywhere.
class TRng {
 public:
  explicit TRng(uint64_t seed) : s_(seed) {}
  uint64_t Next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }
  bool Percent(uint32_t p) { return Below(100) < p; }

 private:
  uint64_t s_;
};

const char* const kLocalParts[] = {
    "john.smith", "mary", "info", "sales", "support", "j.doe", "anna.k", "billing", "noreply",
    "peter_w", "newsletter", "admin", "helpdesk", "office", "m.jones",
    // with non-ASCII letters (all in Windows-1252)
    "j\xC3\xBCrgen.m\xC3\xBCller", "fran\xC3\xA7ois", "s\xC3\xB8ren", "jos\xC3\xA9", "zo\xC3\xAB",
    "bj\xC3\xB6rn", "se\u00F1or.garc\u00EDa", "stra\u00DFe"};
const char* const kDomains[] = {"example.com",
                                "example.org",
                                "mail.example.net",
                                "corp.example.com",
                                "shop.example",
                                "news.example.org",
                                "eu.example.com",
                                "customers.example.net",
                                "b\u00FCcher.example",
                                "caf\xC3\xA9.example.net",
                                "m\xC3\xBCnchen.example.de"};

std::string Pick(TRng& r, const char* const* list, size_t n) { return list[r.Below(uint32_t(n))]; }

std::string Domain(TRng& r) { return Pick(r, kDomains, std::size(kDomains)); }

std::string Address(TRng& r, const std::string& domain) {
  std::string a = Pick(r, kLocalParts, std::size(kLocalParts));
  if (r.Percent(40)) a += std::to_string(r.Below(1000));
  return a + "@" + domain;
}

std::string Ipv4(TRng& r) {
  return std::to_string(1 + r.Below(223)) + "." + std::to_string(r.Below(256)) + "." +
         std::to_string(r.Below(256)) + "." + std::to_string(1 + r.Below(254));
}

std::string Ip(TRng& r) {
  if (!r.Percent(3)) return Ipv4(r);
  static const char kHex[] = "0123456789abcdef";
  std::string s = "2001:db8:";
  for (int g = 0; g < 2; ++g) {
    for (int k = 0; k < 4; ++k) s += kHex[r.Below(16)];
    s += ':';
  }
  s += ':';
  for (int k = 0; k < 3; ++k) s += kHex[r.Below(16)];
  return s;
}

// A moment in the year before 2026-12-01: whole seconds, some with milliseconds.
void Moment(TRng& r, int32_t& day, int32_t& ms) {
  static const int32_t kAnchor = edb::EdbDateToDayNumber(2026, 12, 1);
  day = kAnchor - 1 - int32_t(r.Below(365));
  ms = int32_t(r.Below(86400)) * 1000;
  if (r.Percent(20)) ms += int32_t(r.Below(1000));
}

std::string Hex32(TRng& r) {
  static const char kHex[] = "0123456789abcdef";
  std::string s(32, '0');
  for (auto& c : s) c = kHex[r.Below(16)];
  return s;
}

void SetText(edb::TEdbRecordBuilder& b, int field, const std::string& utf8) {
  b.SetAnsiString(field, edb::EdbUtf8ToAnsi(utf8, kSampleCodePage));
}

using edb::EdbMakeFieldDef;

class TSampleFile {
 public:
  TSampleFile(const std::string& path, const TSampleOptions& o) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    edb::TEdbPassword password;
    password.Text = edb::EdbUtf8ToAnsi(o.Password, kSampleCodePage);  // the bytes a reader hashes
    w_.CreateDatabase(path, password);
    w_.SetBlobStore(&blobs_);
  }
  edb::TEdbFormatWriter& W() { return w_; }
  void Close() { w_.Close(); }

 private:
  edb::TEdbFormatWriter w_;
  edb::TEdbBlobStoreWriter blobs_;
};

void WriteAswl(const std::string& path, const TSampleOptions& o) {
  TSampleFile f(path, o);
  auto& t = f.W().CreateTable("ASWL",
                              {EdbMakeFieldDef("ASWL_ID", edb::aftAutoinc),
                               EdbMakeFieldDef("ASWL_SENDER_EMAIL", edb::aftString, 255),
                               EdbMakeFieldDef("ASWL_SENDER_DOMAIN", edb::aftString, 255),
                               EdbMakeFieldDef("ASWL_RECIPIENT_EMAIL", edb::aftString, 255),
                               EdbMakeFieldDef("ASWL_LASTHIT", edb::aftDateTime)},
                              {"ASWL_SENDER_EMAIL", "ASWL_RECIPIENT_EMAIL"});
  TRng r(o.Seed * 4 + 0);
  for (int64_t i = 0; i < o.Rows; ++i) {
    auto b = t.NewRecord();
    const std::string domain = Domain(r);
    SetText(b, 1, Address(r, domain));
    if (!r.Percent(3)) SetText(b, 2, domain);
    SetText(b, 3, Address(r, Domain(r)));
    int32_t d, ms;
    Moment(r, d, ms);
    b.SetDateTime(4, d, ms);
    t.Insert(b);
  }
  f.Close();
}

void WriteGrey(const std::string& path, const TSampleOptions& o) {
  TSampleFile f(path, o);
  auto& t = f.W().CreateTable("GREY",
                              {EdbMakeFieldDef("GREY_ID", edb::aftAutoinc),
                               EdbMakeFieldDef("GREY_SIGNATURE", edb::aftString, 32),
                               EdbMakeFieldDef("GREY_SIGNATURE_24", edb::aftString, 32),
                               EdbMakeFieldDef("GREY_IP", edb::aftString, 45),
                               EdbMakeFieldDef("GREY_SENDER", edb::aftString, 255),
                               EdbMakeFieldDef("GREY_RECIPIENT", edb::aftString, 255),
                               EdbMakeFieldDef("GREY_CREATED", edb::aftDateTime),
                               EdbMakeFieldDef("GREY_LASTHIT", edb::aftDateTime)},
                              {"GREY_SIGNATURE", "GREY_IP", "GREY_SENDER", "GREY_RECIPIENT"});
  TRng r(o.Seed * 4 + 1);
  for (int64_t i = 0; i < o.Rows; ++i) {
    auto b = t.NewRecord();
    const std::string ip = Ip(r);
    const std::string sender = Address(r, Domain(r));
    const std::string recipient = Address(r, Domain(r));
    SetText(b, 1, Hex32(r));
    // Rows written by newer product versions carry the 24-bit signature; older ones leave it
    // empty.
    if (r.Percent(60)) SetText(b, 2, SampleSignature24(ip, sender, recipient));
    SetText(b, 3, ip);
    SetText(b, 4, sender);
    SetText(b, 5, recipient);
    int32_t d, ms;
    Moment(r, d, ms);
    b.SetDateTime(6, d, ms);
    if (!r.Percent(2)) {
      const int32_t later = int32_t(r.Below(86400000));
      const int64_t total = int64_t(ms) + later;
      b.SetDateTime(7, d + int32_t(total / 86400000), int32_t(total % 86400000));
    }
    t.Insert(b);
  }
  f.Close();
}

void WriteIpTable(edb::TEdbFormatWriter& w, const char* table, const char* timeField, bool v4only,
                  TRng& r, int64_t rows) {
  auto& t = w.CreateTable(
      table,
      {EdbMakeFieldDef("Id", edb::aftAutoinc), EdbMakeFieldDef("IpAddress", edb::aftString, 45),
       EdbMakeFieldDef(timeField, edb::aftDateTime)},
      {"IpAddress"});
  for (int64_t i = 0; i < rows; ++i) {
    auto b = t.NewRecord();
    SetText(b, 1, v4only ? Ipv4(r) : Ip(r));
    int32_t d, ms;
    Moment(r, d, ms);
    b.SetDateTime(2, d, ms);
    t.Insert(b);
  }
}

void WriteDha(const std::string& path, const TSampleOptions& o) {
  TSampleFile f(path, o);
  TRng r(o.Seed * 4 + 2);
  WriteIpTable(f.W(), "DhaHistory", "AttemptTime", false, r, o.Rows);
  // The blacklist target column holds at most 15 characters: IPv4 only.
  WriteIpTable(f.W(), "DhaBlacklist", "LastUpdateTime", true, r, o.Rows);
  f.Close();
}

void WriteHoneypot(const std::string& path, const TSampleOptions& o) {
  TSampleFile f(path, o);
  TRng r(o.Seed * 4 + 3);
  WriteIpTable(f.W(), "HoneypotBlacklist", "LastUpdateTime", false, r, o.Rows);
  f.Close();
}

}  // namespace

std::string SampleSignature24(const std::string& ip, const std::string& sender,
                              const std::string& recipient) {
  const size_t dot = ip.rfind('.');
  const std::string prefix = dot == std::string::npos ? ip : ip.substr(0, dot);
  const std::string text =
      edb::EdbUtf8ToAnsi(prefix + "\t" + sender + "\t" + recipient, kSampleCodePage);
  CryptoPP::Weak::MD5 md5;
  uint8_t digest[16];
  md5.CalculateDigest(digest, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::vector<TSampleTable> WriteSampleDatabases(const std::string& dir, const TSampleOptions& o) {
  std::filesystem::create_directories(dir);
  const std::filesystem::path d(dir);
  WriteAswl((d / "aswl.abs").string(), o);
  WriteGrey((d / "greylist.abs").string(), o);
  WriteDha((d / "dha.abs").string(), o);
  WriteHoneypot((d / "honeypot.abs").string(), o);
  return {{"aswl.abs", "ASWL", o.Rows},
          {"greylist.abs", "GREY", o.Rows},
          {"dha.abs", "DhaHistory", o.Rows},
          {"dha.abs", "DhaBlacklist", o.Rows},
          {"honeypot.abs", "HoneypotBlacklist", o.Rows}};
}

}  // namespace mrvtool

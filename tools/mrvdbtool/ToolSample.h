#pragma once
// Sample data: the four mail-filter databases (aswl.abs: ASWL; greylist.abs: GREY; dha.abs:
// DhaHistory and DhaBlacklist; honeypot.abs: HoneypotBlacklist) filled with realistic,
// deterministic rows: e-mail addresses and domains (some with non-ASCII letters), IPv4 and a few
// IPv6 addresses, date-times over the year before 2026-12-01, some NULLs, and GREY rows with and
// without GREY_SIGNATURE_24. ANSI text (and a password) is written in Windows-1252.

#include <cstdint>
#include <string>
#include <vector>

namespace mrvtool {

struct TSampleOptions {
  int64_t Rows = 1000;  // per table
  uint64_t Seed = 1;
  std::string Password;  // UTF-8; not empty: the files are encrypted with it
};

struct TSampleTable {
  std::string File;  // file name within the folder
  std::string Table;
  int64_t Rows = 0;
};

// The signature of a Greylisting triplet: MD5 (lowercase hex) of the ANSI bytes (code page
// 1252) of IP-without-last-octet, TAB, sender, TAB, recipient. An IP without '.' is used whole.
std::string SampleSignature24(const std::string& ip, const std::string& sender,
                              const std::string& recipient);

// Writes the four files into `dir` (created when missing), replacing existing ones.
std::vector<TSampleTable> WriteSampleDatabases(const std::string& dir, const TSampleOptions& opts);

}  // namespace mrvtool

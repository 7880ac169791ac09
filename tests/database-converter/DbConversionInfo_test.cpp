// The settings record: validation order and messages, error detail blocks, run state.
#include <gtest/gtest.h>

#include <filesystem>

#include "Ado.h"
#include "DbConversionInfo_un.h"
#include "RunTestSupport.h"

using namespace mrv;

namespace {

// An exception of another layer that carries an automation code and source.
class EFakeAutomation : public std::runtime_error, public IAutomationError {
 public:
  EFakeAutomation() : std::runtime_error("Provider says no") {}
  std::int32_t ErrorCode() const noexcept override { return 42; }
  std::string ErrorSource() const override { return "Fake.Provider"; }
};

}  // namespace

TEST(DbConversionInfo, ValidateRecordsOnlyTheFirstProblemInOrder) {
  mrvtest::TPrivateTempDir tmp;
  const std::string file = tmp.MakeFile("ok.abs", 1);
  {
    TDbConversionInfo info;
    info.Tasks[dkDha] = {false, "", "", std::nullopt};  // unselected tasks are never looked at
    info.Validate();
    EXPECT_EQ(info.GetError(), "No database specified to be converted.");
  }
  {
    TDbConversionInfo info;
    info.Tasks[dkAswl] = {true, file, "", std::nullopt};
    info.Tasks[dkGrey] = {true, "", "conn", std::nullopt};
    info.Validate();
    EXPECT_EQ(info.GetError(), "Empty Automatic Sender Whitelist target connection string.");
  }
  {
    TDbConversionInfo info;
    info.Tasks[dkAswl] = {false, "", "", std::nullopt};
    info.Tasks[dkHoneypot] = {true, "", "conn", std::nullopt};
    info.Validate();
    EXPECT_EQ(info.GetError(), "Empty Honeypot source filename.");
  }
  {
    TDbConversionInfo info;
    info.Tasks[dkGrey] = {true, tmp.Path() + "/missing.abs", "conn", std::nullopt};
    info.Tasks[dkDha] = {true, tmp.Path(), "conn", std::nullopt};
    info.Validate();
    EXPECT_EQ(info.GetError(),
              "Source file '" + tmp.Path() +
                  "/missing.abs' does not exist.\r\n\r\nPlease provide a valid file path.");
  }
  {
    TDbConversionInfo info;
    info.Tasks[dkGrey] = {true, file, "conn", std::nullopt};
    info.Tasks[dkDha] = {true, tmp.Path(), "conn", std::nullopt};
    info.Validate();
    EXPECT_EQ(info.GetError(), "Source file '" + tmp.Path() + "' is a directory.");
  }
  {
    TDbConversionInfo info;
    info.Tasks[dkGrey] = {true, file, "conn", std::nullopt};
    info.Tasks[dkAswl] = {false, tmp.Path(), "", std::nullopt};
    info.Validate();
    EXPECT_TRUE(info.IsOk()) << info.GetError();
  }
}

TEST(DbConversionInfo, FormattedErrorAppendsTheDetailBlockOfEachExceptionKind) {
  TDbConversionInfo info;
  const std::runtime_error plain("disk on fire");
  info.SetFormattedError(&plain, "Failed to duplicate file '%s.'", "C:\\a.abs");
  EXPECT_EQ(
      info.GetError(),
      "Failed to duplicate file 'C:\\a.abs.'\r\n\r\nError runtime_error.\r\n\"disk on fire\"");

  // Codes with the top bit set read as negative decimals.
  const ado::EAdoError adoError("Login failed", static_cast<std::int32_t>(0x80040E4Du),
                                "Microsoft OLE DB");
  info.SetFormattedError(&adoError, "Could not connect to the %s External Database.",
                         "Greylisting");
  EXPECT_EQ(info.GetError(),
            "Could not connect to the Greylisting External Database.\r\n\r\nError EAdoError.\r\n"
            "Error code: -2147217843.\r\nSource: Microsoft OLE DB.\r\n\"Login failed\"");

  const EFakeAutomation other;
  info.SetFormattedError(&other, "%d rows", 3);
  EXPECT_EQ(info.GetError(),
            "3 rows\r\n\r\nError EFakeAutomation.\r\nError code: 42.\r\nSource: "
            "Fake.Provider.\r\n\"Provider says no\"");

  info.SetFormattedError(nullptr, "Plain %s", "text");
  EXPECT_EQ(info.GetError(), "Plain text");
}

TEST(DbConversionInfo, CancelFlagStopsTheRunWithoutErrorText) {
  TDbConversionInfo info;
  EXPECT_TRUE(info.IsOk());
  info.Cancelled = true;
  EXPECT_FALSE(info.IsOk());
  EXPECT_EQ(info.GetError(), "");
}

TEST(DbConversionInfo, AbsentCallbacksAreSkippedPresentOnesReceiveTheReport) {
  TDbConversionInfo info;
  info.ReportStatus("nobody listens");
  info.ReportProgress(1, 2);
  EXPECT_EQ(info.AskTargetNotEmpty(dkGrey), taDelete);

  std::string status;
  std::int64_t done = 0, total = 0;
  info.OnStatus = [&](const std::string& t) { status = t; };
  info.OnProgress = [&](std::int64_t d, std::int64_t t) { done = d, total = t; };
  info.OnTargetNotEmpty = [](TDatabaseKind kind, TTargetNotEmptyAnswer& a) {
    a = kind == dkDha ? taKeep : taCancel;
  };
  info.ReportStatusFmt("Creating temporary copy of the %s database...",
                       DatabaseDisplayName(dkHoneypot));
  info.ReportProgress(5000000000LL, 6000000000LL);
  EXPECT_EQ(status, "Creating temporary copy of the Honeypot database...");
  EXPECT_EQ(done, 5000000000LL);
  EXPECT_EQ(total, 6000000000LL);
  EXPECT_EQ(info.AskTargetNotEmpty(dkDha), taKeep);
  EXPECT_EQ(info.AskTargetNotEmpty(dkGrey), taCancel);
  EXPECT_THROW(DatabaseDisplayName(static_cast<TDatabaseKind>(4)), std::out_of_range);
}

// Output formats of the dump command.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>

#include "ToolFormat.h"

using namespace mrvtool;
using edb::TEdbDateKind;
using edb::TEdbVariant;

namespace {

std::string Json(const TEdbVariant& v) {
  std::string s;
  AppendJsonValue(s, v);
  return s;
}

std::string Csv(const TEdbVariant& v) {
  std::string s;
  AppendCsvValue(s, v);
  return s;
}

std::string Written(TDumpFormat f, const std::vector<std::string>& names,
                    const std::vector<std::vector<TEdbVariant>>& rows, bool terminalSafe = false) {
  std::FILE* tmp = std::tmpfile();
  {
    TDumpWriter w(tmp, f, names, terminalSafe);
    w.Begin();
    for (const auto& r : rows) w.Record(r);
  }
  std::string out;
  std::rewind(tmp);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0) out.append(buf, n);
  std::fclose(tmp);
  return out;
}

}  // namespace

TEST(ToolFormat, Base64Vectors) {
  // RFC 4648 test vectors.
  const char* in[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char* out[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(Base64(reinterpret_cast<const uint8_t*>(in[i]), std::strlen(in[i])), out[i]);
  }
}

TEST(ToolFormat, JsonValuesByKind) {
  EXPECT_EQ(Json(TEdbVariant()), "null");
  EXPECT_EQ(Json(TEdbVariant::Text("a\"b\\c\n\x01 \xC3\xA9")),
            "\"a\\\"b\\\\c\\n\\u0001 \xC3\xA9\"");
  EXPECT_EQ(Json(TEdbVariant::Integer(-9007199254740993LL)), "-9007199254740993");
  EXPECT_EQ(Json(TEdbVariant::Double(0.1)), "0.1");
  EXPECT_EQ(Json(TEdbVariant::Double(1e300 * 1e300)), "null");
  EXPECT_EQ(Json(TEdbVariant::Boolean(false)), "false");
  EXPECT_EQ(Json(TEdbVariant::FromStored(730120, 43200123, TEdbDateKind::DateTime)),
            "\"2000-01-01T12:00:00.123\"");
  EXPECT_EQ(Json(TEdbVariant::FromStored(730120, 0, TEdbDateKind::Date)), "\"2000-01-01\"");
  EXPECT_EQ(Json(TEdbVariant::FromStored(693594, 45296789, TEdbDateKind::Time)),
            "\"12:34:56.789\"");
  EXPECT_EQ(Json(TEdbVariant::Bytes({0xFF, 0x00})), "\"/wA=\"");
}

TEST(ToolFormat, CsvQuotingAndNulls) {
  EXPECT_EQ(Csv(TEdbVariant()), "");
  EXPECT_EQ(Csv(TEdbVariant::Text("")), "\"\"");  // empty text differs from null
  EXPECT_EQ(Csv(TEdbVariant::Text("plain")), "plain");
  EXPECT_EQ(Csv(TEdbVariant::Text("a,b")), "\"a,b\"");
  EXPECT_EQ(Csv(TEdbVariant::Text("say \"hi\"")), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(Csv(TEdbVariant::Text("two\r\nlines")), "\"two\r\nlines\"");
  EXPECT_EQ(Csv(TEdbVariant::Boolean(true)), "true");
  EXPECT_EQ(Csv(TEdbVariant::FromStored(693593, -21600000, TEdbDateKind::DateTime)),
            "1899-12-29T06:00:00.000");
}

TEST(ToolFormat, WriterProducesParsableLines) {
  const std::vector<std::string> names = {"ID", "Name, full", "When"};
  const std::vector<std::vector<TEdbVariant>> rows = {
      {TEdbVariant::Integer(1), TEdbVariant::Text("x\"y"),
       TEdbVariant::FromStored(739958, 1000, TEdbDateKind::DateTime)},
      {TEdbVariant::Integer(2), TEdbVariant(), TEdbVariant()}};
  const std::string jsonl = Written(TDumpFormat::JsonLines, names, rows);
  std::vector<nlohmann::json> objs;
  size_t pos = 0;
  while (pos < jsonl.size()) {
    const size_t nl = jsonl.find('\n', pos);
    objs.push_back(nlohmann::json::parse(jsonl.substr(pos, nl - pos)));
    pos = nl + 1;
  }
  ASSERT_EQ(objs.size(), 2u);
  EXPECT_EQ(objs[0]["Name, full"], "x\"y");
  EXPECT_EQ(objs[0]["When"], "2026-12-08T00:00:01.000");
  EXPECT_TRUE(objs[1]["Name, full"].is_null());
  // Keys keep the field order.
  EXPECT_LT(jsonl.find("\"ID\""), jsonl.find("\"Name, full\""));

  EXPECT_EQ(Written(TDumpFormat::Csv, names, rows),
            "ID,\"Name, full\",When\r\n1,\"x\"\"y\",2026-12-08T00:00:01.000\r\n2,,\r\n");
}

TEST(ToolFormat, TextFromFilesCannotDriveTheTerminal) {
  // Escape sequences (clear screen, window title, CSI as a C1 control), DEL and a lone CR.
  EXPECT_EQ(EscapeControlChars("\x1b[2J\x1b]0;owned\x07 ok\x7f\r", false),
            "\\x1B[2J\\x1B]0;owned\\x07 ok\\x7F\\x0D");
  EXPECT_EQ(EscapeControlChars("a\xC2\x9B"
                               "31mb\xC2\x85",
                               false),
            "a\\u009B31mb\\u0085");
  // Letters of every script stay; tabs stay; line feeds only where asked for.
  const std::string text = "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\xA0\t";
  EXPECT_EQ(EscapeControlChars(text, false), text);
  EXPECT_EQ(EscapeControlChars("a\nb", true), "a\nb");
  EXPECT_EQ(EscapeControlChars("a\nb", false), "a\\x0Ab");
  // Bytes that are not UTF-8: stray continuation, overlong form, surrogate, cut sequence.
  EXPECT_EQ(EscapeControlChars("\x80x\xC0\xAF\xED\xA0\x80\xE2\x82", false),
            "\\x80x\\xC0\\xAF\\xED\\xA0\\x80\\xE2\\x82");

  // JSON: still exact and parsable, but DEL and C1 are escaped too.
  const std::string json = Json(TEdbVariant::Text("\x1b[2J\x7f\xC2\x9B\xC3\xA9"));
  EXPECT_EQ(json, "\"\\u001b[2J\\u007f\\u009b\xC3\xA9\"");
  EXPECT_EQ(nlohmann::json::parse(json).get<std::string>(), "\x1b[2J\x7f\xC2\x9B\xC3\xA9");

  // CSV keeps exact text for files; on a terminal names and text are escaped.
  const std::vector<std::vector<TEdbVariant>> rows = {{TEdbVariant::Text("\x1b]0;t\x07")}};
  EXPECT_EQ(Written(TDumpFormat::Csv, {"N\x1b"}, rows), "N\x1b\r\n\x1b]0;t\x07\r\n");
  EXPECT_EQ(Written(TDumpFormat::Csv, {"N\x1b"}, rows, true), "N\\x1B\r\n\\x1B]0;t\\x07\r\n");
}

// Connection parameters, placeholders and the COPY text format of the PostgreSQL backend.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "AdoPostgres.h"

namespace ado::detail {
namespace {

constexpr std::int32_t kErrFail = static_cast<std::int32_t>(0x80004005u);

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsIdentChar(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0x80 || std::isalnum(b) || c == '_';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// End of the quoted text or comment that starts at `i`, or `i` when none starts there.
std::size_t SkipQuoted(const std::string& s, std::size_t i) {
  const std::size_t n = s.size();
  const char c = s[i];
  if (c == '\'' || c == '"') {
    // E'...' strings escape with backslashes; everywhere a doubled quote stands for itself.
    const bool backslashes = c == '\'' && i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e') &&
                             (i < 2 || !IsIdentChar(s[i - 2]));
    for (std::size_t j = i + 1; j < n; ++j) {
      if (backslashes && s[j] == '\\') {
        ++j;
      } else if (s[j] == c) {
        if (j + 1 < n && s[j + 1] == c)
          ++j;
        else
          return j + 1;
      }
    }
    return n;
  }
  if (c == '-' && i + 1 < n && s[i + 1] == '-') {
    const std::size_t e = s.find('\n', i);
    return e == std::string::npos ? n : e;
  }
  if (c == '/' && i + 1 < n && s[i + 1] == '*') {
    int depth = 0;
    for (std::size_t j = i; j + 1 < n; ++j) {
      if (s[j] == '/' && s[j + 1] == '*') {
        ++depth;
        ++j;
      } else if (s[j] == '*' && s[j + 1] == '/') {
        ++j;
        if (--depth == 0) return j + 1;
      }
    }
    return n;
  }
  if (c == '$' && (i == 0 || !IsIdentChar(s[i - 1]))) {
    std::size_t j = i + 1;
    while (j < n && IsIdentChar(s[j]) && !std::isdigit(static_cast<unsigned char>(s[i + 1]))) ++j;
    if (j < n && s[j] == '$') {
      const std::string tag = s.substr(i, j - i + 1);
      const std::size_t close = s.find(tag, j + 1);
      return close == std::string::npos ? n : close + tag.size();
    }
  }
  return i;
}

void AppendEscaped(std::string& out, std::string_view text) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char* escape = nullptr;
    switch (c) {
      case '\\': escape = "\\\\"; break;
      case '\t': escape = "\\t"; break;
      case '\n': escape = "\\n"; break;
      case '\r': escape = "\\r"; break;
      case '\0':
        throw EAdoError("PostgreSQL cannot store text that holds a NUL character.", kErrFail,
                        kSourcePostgreSql);
      default: continue;
    }
    out.append(text.data() + from, i - from);
    out += escape;
    from = i + 1;
  }
  out.append(text.data() + from, text.size() - from);
}

template <class T>
void AppendNumber(std::string& out, T value) {
  char buf[40];
  if constexpr (std::is_floating_point_v<T>) {
    if (std::isnan(value)) {
      out += "NaN";
      return;
    }
    if (std::isinf(value)) {
      out += value > 0 ? "Infinity" : "-Infinity";
      return;
    }
  }
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

// The value of parameter `type` in the server's text form, appended to `out`; text escaped
// for COPY when `copy` is set.
void AppendValue(std::string& out, DataTypeEnum type, const Variant& v, bool copy) {
  switch (type) {
    case adDate: {
      char buf[32];
      WritePgTimestamp(v.AsDateTime(), buf);
      out += buf;
      return;
    }
    case adInteger:
    case adBigInt: AppendNumber(out, v.AsInt64()); return;
    case adDouble: AppendNumber(out, v.AsDouble()); return;
    default: break;
  }
  const std::string* own = v.TextIfText();
  const std::string converted = own ? std::string() : v.AsText();
  const std::string_view text = own ? std::string_view(*own) : std::string_view(converted);
  if (copy) {
    AppendEscaped(out, text);
  } else {
    if (text.find('\0') != std::string_view::npos)
      throw EAdoError("PostgreSQL cannot store text that holds a NUL character.", kErrFail,
                      kSourcePostgreSql);
    out.append(text);
  }
}

void Write2(char* p, int v) {
  p[0] = static_cast<char>('0' + v / 10 % 10);
  p[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

PgConnectParams PostgresConnectParams(const std::string& connectionString) {
  PgConnectParams out;
  auto add = [&out](std::string key, std::string value) {
    for (std::size_t i = 0; i < out.Keys.size(); ++i)
      if (out.Keys[i] == key) {
        out.Values[i] = std::move(value);
        return;
      }
    out.Keys.push_back(std::move(key));
    out.Values.push_back(std::move(value));
  };
  const std::size_t b = connectionString.find_first_not_of(" \t\r\n");
  const std::size_t e = connectionString.find_last_not_of(" \t\r\n");
  const std::string trimmed =
      b == std::string::npos ? std::string() : connectionString.substr(b, e - b + 1);
  const std::string lower = Lower(trimmed);
  if (lower.rfind("postgresql://", 0) == 0 || lower.rfind("postgres://", 0) == 0) {
    add("dbname", trimmed);
    out.ExpandDbname = true;
  } else {
    for (const ConnectionStringPair& p : ParseConnectionString(connectionString)) {
      const std::string key = Lower(p.Key);
      if (key == "provider") continue;
      if (key == "connsettings") {
        out.Settings = p.Value;
      } else if (key == "host" || key == "server" || key == "data source") {
        add("host", p.Value);
      } else if (key == "database" || key == "initial catalog" || key == "dbname") {
        add("dbname", p.Value);
      } else if (key == "user" || key == "uid" || key == "user id" || key == "username") {
        add("user", p.Value);
      } else if (key == "password" || key == "pwd") {
        add("password", p.Value);
      } else {
        std::string k = key;
        for (char& c : k)
          if (c == ' ') c = '_';
        add(k, p.Value);
      }
    }
  }
  add("client_encoding", "UTF8");
  return out;
}

void PgConnectParams::Arrays(std::vector<const char*>& keys,
                             std::vector<const char*>& values) const {
  keys.clear();
  values.clear();
  for (std::size_t i = 0; i < Keys.size(); ++i) {
    keys.push_back(Keys[i].c_str());
    values.push_back(Values[i].c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
}

std::string NumberPlaceholders(const std::string& sql) {
  std::string out;
  out.reserve(sql.size() + 16);
  int next = 1;
  for (std::size_t i = 0; i < sql.size();) {
    const std::size_t skip = SkipQuoted(sql, i);
    if (skip > i) {
      out.append(sql, i, skip - i);
      i = skip;
    } else if (sql[i] == '?') {
      out += '$' + std::to_string(next++);
      ++i;
    } else {
      out += sql[i++];
    }
  }
  return out;
}

bool PlainInsertTarget(const std::string& sql, PgCopyTarget& target) {
  std::size_t i = 0;
  const std::size_t n = sql.size();
  auto blanks = [&] {
    while (i < n && IsBlank(sql[i])) ++i;
  };
  auto word = [&](const char* w) {
    blanks();
    const std::size_t len = std::strlen(w);
    if (i + len > n || Lower(sql.substr(i, len)) != w || (i + len < n && IsIdentChar(sql[i + len])))
      return false;
    i += len;
    return true;
  };
  if (!word("insert") || !word("into")) return false;
  blanks();
  const std::size_t tableBegin = i;
  while (i < n && sql[i] != '(') {
    if (sql[i] == '"') {
      i = SkipQuoted(sql, i);
    } else if (IsIdentChar(sql[i]) || sql[i] == '.') {
      ++i;
    } else if (IsBlank(sql[i])) {
      break;
    } else {
      return false;
    }
  }
  PgCopyTarget t;
  t.Table = sql.substr(tableBegin, i - tableBegin);
  blanks();
  if (t.Table.empty() || i >= n || sql[i] != '(') return false;
  const std::size_t columnsBegin = i++;
  t.Count = 1;
  while (i < n && sql[i] != ')') {
    if (sql[i] == '"') {
      i = SkipQuoted(sql, i);
      continue;
    }
    if (sql[i] == ',')
      ++t.Count;
    else if (!IsIdentChar(sql[i]) && !IsBlank(sql[i]))
      return false;
    ++i;
  }
  if (i >= n) return false;
  t.Columns = sql.substr(columnsBegin, ++i - columnsBegin);
  if (!word("values")) return false;
  blanks();
  if (i >= n || sql[i++] != '(') return false;
  for (std::size_t k = 0; k < t.Count; ++k) {
    blanks();
    if (i >= n || sql[i++] != '?') return false;
    blanks();
    if (i >= n || sql[i++] != (k + 1 == t.Count ? ')' : ',')) return false;
  }
  blanks();
  if (i < n && sql[i] == ';') ++i;
  blanks();
  if (i != n) return false;
  target = std::move(t);
  return true;
}

void AppendCopyRow(std::string& line, const std::vector<ParameterSpec>& params,
                   const std::vector<const Variant*>& values) {
  const std::size_t start = line.size();
  try {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) line += '\t';
      if (values[i]->IsNull())
        line += "\\N";
      else
        AppendValue(line, params[i].Type, *values[i], true);
    }
    line += '\n';
  } catch (...) {
    line.resize(start);
    throw;
  }
}

std::string PgParameterText(DataTypeEnum type, const Variant& value, bool& isNull) {
  isNull = value.IsNull();
  std::string out;
  if (!isNull) AppendValue(out, type, value, false);
  return out;
}

int CopyContextLine(std::string_view context) {
  if (context.substr(0, 5) != "COPY ") return 0;
  const std::size_t at = context.find(", line ");
  if (at == std::string_view::npos) return 0;
  int line = 0;
  const char* b = context.data() + at + 7;
  const auto r = std::from_chars(b, context.data() + context.size(), line);
  return r.ptr == b ? 0 : line;
}

void WritePgTimestamp(double serial, char* out) {
  const DateTimeParts p = DecodeDateTime(serial);
  Write2(out, p.Year / 100);
  Write2(out + 2, p.Year % 100);
  out[4] = '-';
  Write2(out + 5, p.Month);
  out[7] = '-';
  Write2(out + 8, p.Day);
  out[10] = ' ';
  Write2(out + 11, p.Hour);
  out[13] = ':';
  Write2(out + 14, p.Minute);
  out[16] = ':';
  Write2(out + 17, p.Second);
  out[19] = '.';
  out[20] = static_cast<char>('0' + p.Millisecond / 100 % 10);
  Write2(out + 21, p.Millisecond % 100);
  out[23] = '\0';
}

}  // namespace ado::detail

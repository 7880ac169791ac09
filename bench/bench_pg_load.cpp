// How a batch of rows travels best into PostgreSQL over the client library: the same Greylisting
// rows (the CSV that scripts/bench dumps) loaded in 1000-row transactions once with one
// COPY ... FROM STDIN per batch, once in pipeline mode with a prepared INSERT per row, each into
// a fresh copy of the GREY table of the connection's search path. Prints time and rows/s of each.
//
//   bench_pg_load CONNECTION-STRING CSV-FILE      (Provider=PostgreSQL;... or postgresql://...)
#if defined(MRV_HAVE_LIBPQ)
#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "AdoPostgres.h"

namespace {

constexpr int kBatch = 1000;
const char* const kColumns =
    "(GREY_SIGNATURE, GREY_SIGNATURE_24, GREY_IP, GREY_SENDER, GREY_RECIPIENT, GREY_CREATED, "
    "GREY_LASTHIT)";

using Row = std::vector<std::string>;

// Fields of one CSV line ("..." quoting with doubled quotes); the dump's line ends are CRLF.
Row CsvFields(const std::string& line) {
  Row fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else if (c != '\r' || quoted) {
      fields.back() += c;
    }
  }
  return fields;
}

void Check(PGconn* conn, PGresult* res, ExecStatusType want, const char* what) {
  if (PQresultStatus(res) != want) {
    std::fprintf(stderr, "%s: %s", what, PQerrorMessage(conn));
    std::exit(1);
  }
  PQclear(res);
}

void Exec(PGconn* conn, const std::string& sql) {
  Check(conn, PQexec(conn, sql.c_str()), PGRES_COMMAND_OK, sql.c_str());
}

void CopyBatches(PGconn* conn, const std::vector<Row>& rows, const std::string& table) {
  std::string lines;
  for (std::size_t b = 0; b < rows.size(); b += kBatch) {
    lines.clear();
    for (std::size_t r = b; r < rows.size() && r < b + kBatch; ++r) {
      for (std::size_t c = 1; c < rows[r].size(); ++c) {
        if (c > 1) lines += '\t';
        lines += rows[r][c];  // the bench's values hold nothing that needs escaping
      }
      lines += '\n';
    }
    Exec(conn, "BEGIN");
    Check(conn, PQexec(conn, ("COPY " + table + kColumns + " FROM STDIN").c_str()), PGRES_COPY_IN,
          "COPY");
    if (PQputCopyData(conn, lines.data(), static_cast<int>(lines.size())) != 1 ||
        PQputCopyEnd(conn, nullptr) != 1)
      Check(conn, nullptr, PGRES_COMMAND_OK, "COPY data");
    Check(conn, PQgetResult(conn), PGRES_COMMAND_OK, "COPY end");
    while (PGresult* more = PQgetResult(conn)) PQclear(more);
    Exec(conn, "COMMIT");
  }
}

void PipelinedInserts(PGconn* conn, const std::vector<Row>& rows, const std::string& table) {
  Exec(conn, "PREPARE bench_ins AS INSERT INTO " + table + kColumns +
                 " VALUES($1, $2, $3, $4, $5, $6::timestamp, $7::timestamp)");
  if (PQenterPipelineMode(conn) != 1) Check(conn, nullptr, PGRES_COMMAND_OK, "pipeline mode");
  std::vector<const char*> values(7);
  for (std::size_t b = 0; b < rows.size(); b += kBatch) {
    PQsendQueryParams(conn, "BEGIN", 0, nullptr, nullptr, nullptr, nullptr, 0);
    for (std::size_t r = b; r < rows.size() && r < b + kBatch; ++r) {
      for (std::size_t c = 0; c < 7; ++c) values[c] = rows[r][c + 1].c_str();
      PQsendQueryPrepared(conn, "bench_ins", 7, values.data(), nullptr, nullptr, 0);
    }
    PQsendQueryParams(conn, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0);
    PQpipelineSync(conn);
    for (;;) {
      PGresult* res = PQgetResult(conn);
      if (!res) continue;  // the end of one statement's results
      const ExecStatusType status = PQresultStatus(res);
      PQclear(res);
      if (status == PGRES_PIPELINE_SYNC) break;
      if (status != PGRES_COMMAND_OK) Check(conn, nullptr, PGRES_COMMAND_OK, "pipelined insert");
    }
  }
  PQexitPipelineMode(conn);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_pg_load CONNECTION-STRING CSV-FILE\n");
    return 2;
  }
  std::vector<Row> rows;
  std::ifstream csv(argv[2], std::ios::binary);
  std::string line;
  std::getline(csv, line);  // header
  while (std::getline(csv, line))
    if (!line.empty() && line != "\r") rows.push_back(CsvFields(line));
  const ado::detail::PgConnectParams p = ado::detail::PostgresConnectParams(argv[1]);
  std::vector<const char*> keys, vals;
  p.Arrays(keys, vals);
  PGconn* conn = PQconnectdbParams(keys.data(), vals.data(), p.ExpandDbname ? 1 : 0);
  if (PQstatus(conn) != CONNECTION_OK) {
    std::fprintf(stderr, "%s", PQerrorMessage(conn));
    return 1;
  }
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  if (!p.Settings.empty()) Exec(conn, p.Settings);
  struct Way {
    const char* label;
    void (*load)(PGconn*, const std::vector<Row>&, const std::string&);
  };
  for (const Way& way :
       {Way{"copy-per-batch", CopyBatches}, Way{"pipelined-inserts", PipelinedInserts}}) {
    const std::string table = std::string("bench_") + (way.load == CopyBatches ? "copy" : "pipe");
    Exec(conn, "DROP TABLE IF EXISTS " + table);
    Exec(conn, "CREATE TABLE " + table + " (LIKE GREY INCLUDING ALL)");
    const auto start = std::chrono::steady_clock::now();
    way.load(conn, rows, table);
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-20s %9.3f s %11.0f rows/s\n", way.label, secs, rows.size() / secs);
    Exec(conn, "DROP TABLE " + table);
  }
  PQfinish(conn);
  return 0;
}
#else
#include <cstdio>
int main() {
  std::fprintf(stderr, "bench_pg_load: built without the PostgreSQL client library\n");
  return 2;
}
#endif

// Internal interface between the Connection/Command facade and the backends. Not part of the
// public interface: include Ado.h instead.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Ado.h"
#include "AdoConnectionString.h"
#include "BaseText.h"

namespace ado::detail {

struct ParameterSpec {
  std::string Name;
  DataTypeEnum Type;
  ParameterDirectionEnum Direction;
  int Size;
};

// Rows of a query, filled by a statement when its text returns a result set.
struct ResultRows {
  bool HasResult = false;
  std::vector<std::string> Names;
  std::vector<std::vector<Variant>> Rows;
};

class BackendStatement {
 public:
  virtual ~BackendStatement() = default;
  // Binds `values` (one per prepared parameter, in order) and runs the statement once.
  // `affected` receives the records affected (-1 unknown); `rows` the result set, if any.
  virtual void Execute(const std::vector<const Variant*>& values, std::int64_t& affected,
                       ResultRows& rows) = 0;
  // Frees the backend's handle; the object stays but can no longer execute. Called by the
  // connection before it closes.
  virtual void Release() noexcept = 0;

  // Rows sent together. A statement that can hold rows and send them in one execution says
  // how many (0: it cannot, the default). Queue copies `values` as the next row; Flush sends
  // the queued rows and empties the queue whatever happens, raising EAdoError with the failing
  // row set (EAdoError::SetFailedRow) when one is refused; Discard drops them unsent.
  virtual int QueueCapacity() const noexcept { return 0; }
  virtual void Queue(const std::vector<const Variant*>& /*values*/) {}
  virtual int Queued() const noexcept { return 0; }
  virtual void Flush() {}
  virtual void Discard() noexcept {}
};

class BackendConnection {
 public:
  virtual ~BackendConnection() = default;
  virtual const char* Name() const noexcept = 0;
  virtual void Open() = 0;
  virtual void Close() noexcept = 0;
  virtual void BeginTrans() = 0;
  virtual void CommitTrans() = 0;
  virtual void RollbackTrans() = 0;
  virtual Engine GetEngine() const = 0;
  virtual std::string DbmsName() const = 0;
  virtual std::unique_ptr<BackendStatement> Prepare(const std::string& sql,
                                                    const std::vector<ParameterSpec>& params) = 0;
};

// Shared between a Connection and the Commands that use it.
struct ConnectionState {
  std::string ConnectionString;
  std::unique_ptr<BackendConnection> Backend;
  bool Open = false;
  bool InTransaction = false;
  std::uint64_t Epoch = 0;                    // bumped on every Open/Close, so commands re-prepare
  std::vector<BackendStatement*> Statements;  // live prepared statements of this connection
  BackendStatement* Pending = nullptr;        // the statement holding queued rows, if any
  std::exception_ptr LostRows;                // a send that failed where it could not raise

  void ReleaseStatements() noexcept;
  void Forget(BackendStatement* statement) noexcept;
  // Sends the rows of Pending (and clears it); raises the failure of an earlier send that
  // could not raise where it happened.
  void FlushPending();
  void DiscardPending() noexcept;
};

std::unique_ptr<BackendConnection> CreateSqliteBackend(const BackendChoice& choice);
std::unique_ptr<BackendConnection> CreateOdbcBackend(const BackendChoice& choice);
// PostgreSQL through its client library; in builds without that library throws EAdoError
// (component unavailable) saying so.
std::unique_ptr<BackendConnection> CreatePostgresBackend(const BackendChoice& choice);
// Automation providers: ADO on Windows; elsewhere throws EAdoError naming the provider.
std::unique_ptr<BackendConnection> CreateProviderBackend(const BackendChoice& choice);

// Test seam: when set, every connection gets its backend from this factory instead of the
// built-in ones (after the string has been parsed as usual). Empty by default.
using BackendFactory = std::function<std::unique_ptr<BackendConnection>(const BackendChoice&)>;
BackendFactory& BackendFactoryForTesting();

// Fault injection for tests: when set, the ODBC backend asks it before every transaction end
// (commit true for a commit) and, when it answers true, treats that end as failed by the
// driver without calling the driver. Empty (the default) injects nothing.
using OdbcEndTranFault = std::function<bool(bool commit)>;
void SetOdbcEndTranFault(OdbcEndTranFault fault);

// UTF-8 <-> UTF-16 for the wide interfaces (invalid sequences become U+FFFD).
using base::Utf16ToUtf8;
using base::Utf8ToUtf16;

}  // namespace ado::detail

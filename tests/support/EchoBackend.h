// Test support: an access-layer backend whose every message echoes a given text (the
// connection string and the password, as some providers do), to prove that passwords are masked
// wherever a target's message can surface.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "AdoBackend.h"

namespace testsupport {

// A backend that echoes the connection string and its password in every message it raises.
class EchoBackend final : public ado::detail::BackendConnection {
 public:
  EchoBackend(std::string echo, bool failAtCreate) : echo_(std::move(echo)) {
    if (failAtCreate) Fail("create");
  }
  const char* Name() const noexcept override { return "Echo"; }
  void Open() override {
    if (failOpen) Fail("open");
  }
  void Close() noexcept override {}
  void BeginTrans() override { Fail("begin"); }
  void CommitTrans() override { Fail("commit"); }
  void RollbackTrans() override { Fail("rollback"); }
  ado::Engine GetEngine() const override { return ado::Engine::Sqlite; }
  std::string DbmsName() const override { return "Echo"; }
  std::unique_ptr<ado::detail::BackendStatement> Prepare(
      const std::string&, const std::vector<ado::detail::ParameterSpec>&) override {
    Fail("prepare");
  }
  bool failOpen = true;

 private:
  [[noreturn]] void Fail(const std::string& step) const {
    throw ado::EAdoError("unexpected failure at " + step + " of " + echo_, -1, "Echo");
  }
  std::string echo_;
};

// Makes every new connection use an echo backend that echoes `echo` and fails to open (or, with
// `failAtCreate`, already fails when the connection string is set). Undo with Restore().
inline void EchoEveryConnection(const std::string& echo, bool failAtCreate) {
  ado::detail::BackendFactoryForTesting() = [=](const ado::BackendChoice&) {
    return std::make_unique<EchoBackend>(echo, failAtCreate);
  };
}
inline void Restore() { ado::detail::BackendFactoryForTesting() = nullptr; }

}  // namespace testsupport

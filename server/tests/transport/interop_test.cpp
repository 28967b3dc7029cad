// The endpoint against an independent QUIC stack: a small quic-go client (interop/main.go),
// built offline from Debian's Go packages.

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/hex.hpp"
#include "support/quic_client.hpp"

namespace ostrel_server::transport {
namespace {

// Standard output of `cmd`, and its exit status.
std::pair<std::string, int> run(const std::string& cmd) {
  std::string out;
  FILE* f = ::popen(cmd.c_str(), "r");
  if (f == nullptr) return {out, -1};
  char buf[4096];
  while (std::fgets(buf, sizeof buf, f) != nullptr) out += buf;
  return {out, ::pclose(f)};
}

TEST(Interop, QuicGoClientHandshakesEchoesAndReadsTheClose) {
  if (run("command -v go").second != 0) GTEST_SKIP() << "go is not installed: the quic-go interop client cannot be built";
  const std::string bin = std::string(OSTREL_BINARY_DIR) + "/ostrel-interop-client";
  const std::string build = std::string("cd ") + OSTREL_SOURCE_DIR +
                            "/server/tests/interop && GO111MODULE=off GOPATH=/usr/share/gocode GOCACHE=" +
                            OSTREL_BINARY_DIR + "/go-cache go build -o " + bin + " main.go 2>&1";
  auto [build_out, build_status] = run(build);
  ASSERT_EQ(build_status, 0) << build_out;

  test::TestServer server;
  auto [out, status] = run(bin + " " + quic::format_addr(server.address()) + " 2>&1");
  ASSERT_EQ(status, 0) << out;
  std::istringstream lines(out);
  std::string line;
  std::vector<std::string> echoes;
  std::string alpn, cert_hex, close;
  while (std::getline(lines, line)) {
    if (line.rfind("alpn ", 0) == 0) alpn = line.substr(5);
    if (line.rfind("cert ", 0) == 0) cert_hex = line.substr(5);
    if (line.rfind("echo ", 0) == 0) echoes.push_back(line.substr(5));
    if (line.rfind("close ", 0) == 0) close = line.substr(6);
  }
  EXPECT_EQ(alpn, "ostrel/1");
  EXPECT_EQ(cert::fingerprint_of(ostrel_core::test::from_hex(cert_hex)), server.cert().fingerprint);
  EXPECT_EQ(echoes, (std::vector<std::string>{"1 ok", "1000 ok", "100000 ok", "1048576 ok"}));
  EXPECT_EQ(close, std::to_string(test::kEchoRefusal) + " peer declared an empty message");
}

}  // namespace
}  // namespace ostrel_server::transport

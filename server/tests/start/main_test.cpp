// The `server` program run as a subprocess: exit codes, where its messages go, its log lines.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/mod_files.hpp"
#include "support/runaways.hpp"

namespace {

using ::testing::HasSubstr;
using ostrel_core::test::file_tree;
using ostrel_core::test::write_mod;
namespace fs = std::filesystem;

constexpr const char* kBinary = OSTREL_BINARY_DIR "/app/server";
constexpr auto kTimeout = std::chrono::seconds(20);

// An environment variable for the child: a value, or unset when null.
struct EnvVar {
  const char* name;
  const char* value;
};

struct Finished {
  int exit_code = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out, err;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The program started in `cwd` with NO_COLOR=1 and no OSTREL_LOG unless `env` says otherwise.
class Child {
 public:
  Child(std::vector<std::string> args, const fs::path& cwd, std::vector<EnvVar> env = {}) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) std::abort();
    // A signal sent before the program listens waits, pending, instead of ending it: the child
    // starts with these blocked (from the fork on, so no signal can come first) and the program
    // unblocks them once its handler is in place. No polling for readiness.
    sigset_t early, before;
    sigemptyset(&early);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&early, sig);
    pthread_sigmask(SIG_BLOCK, &early, &before);
    pid_ = fork();
    if (pid_ != 0) pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      if (chdir(cwd.c_str()) != 0) _exit(126);
      setenv("NO_COLOR", "1", 1);
      unsetenv("OSTREL_LOG");
      for (const auto& e : env) {
        if (e.value) setenv(e.name, e.value, 1);
        else unsetenv(e.name);
      }
      std::vector<char*> argv{const_cast<char*>(kBinary)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kBinary, argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
  }

  void send(int sig) { kill(pid_, sig); }

  // Reads both streams to their end and reaps the process; kills it after kTimeout.
  Finished finish() {
    Finished f;
    auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (out_fd_ >= 0 || err_fd_ >= 0) {
      pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) <= 0) {
        ADD_FAILURE() << "the server did not end in time";
        kill(pid_, SIGKILL);
        break;
      }
      drain(fds[0], out_fd_, f.out);
      drain(fds[1], err_fd_, f.err);
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (WIFEXITED(status)) f.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) f.signal = WTERMSIG(status);
    return f;
  }

 private:
  static void drain(const pollfd& p, int& fd, std::string& into) {
    if (fd < 0 || p.revents == 0) return;
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n > 0) {
      into.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      close(fd);
      fd = -1;
    }
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
};

class ServerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ostrel_main_test_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const char* name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  Finished run(std::vector<std::string> args, std::vector<EnvVar> env = {}) {
    return Child(std::move(args), dir_, std::move(env)).finish();
  }

  fs::path dir_;
};

// "2026-12-10T22:38:13.123456Z" and the level column.
constexpr const char* kStamp = R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{6}Z)";

TEST_F(ServerProgram, UsageErrorsExitWithTwo) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* err_has;
  };
  const Case cases[] = {
      {"no_arguments", {}, "--config"},
      {"check_mods_with_config", {"--check-mods", "d", "--config", "c"}, "--check-mods"},
      {"config_twice", {"--config", "a.toml", "--config", "b.toml"}, "--config"},
      {"unknown_option", {"--verbose"}, "--verbose"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto f = run(c.args);
    EXPECT_EQ(f.exit_code, 2);
    EXPECT_THAT(f.err, HasSubstr(c.err_has));
    EXPECT_THAT(f.err, HasSubstr("Usage: server"));
    EXPECT_EQ(f.out, "");
  }
}

TEST_F(ServerProgram, VersionAndHelpGoToStandardOutput) {
  auto version = run({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "server 0.4.2\n");
  EXPECT_EQ(version.err, "");

  auto help = run({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_THAT(help.out, HasSubstr("Headless Ostrel voxel engine server"));
  EXPECT_THAT(help.out, HasSubstr("Required unless `--check-mods` or `--create-mod` is given."));
  EXPECT_THAT(help.out, HasSubstr("Exits 0 if every mod is usable and 1 otherwise, so CI can gate on it."));
  EXPECT_THAT(help.out, HasSubstr("Then checks it the way `--check-mods` would, and exits 0 only if that check passes."));
}

TEST_F(ServerProgram, ConfigFailuresAreReportedAndExitWithOne) {
  write("zero.toml", "max_players = 0\n");
  write("typo.toml", "max_player = 3\n");
  struct Case {
    const char* name;
    const char* config;
    std::vector<std::string> lines;  // regular expressions, one per line of standard output
  };
  const Case cases[] = {
      {"missing_file",
       "missing.toml",
       {std::string("^") + kStamp + R"( ERROR server: could not read config file `missing\.toml`$)",
        std::string("^") + kStamp + R"( ERROR server:   caused by: No such file or directory \(os error 2\)$)"}},
      {"invalid",
       "zero.toml",
       {std::string("^") + kStamp + R"( ERROR server: invalid config in `zero\.toml`: max_players must be at least 1$)"}},
      {"misspelt_key",
       "typo.toml",
       {std::string("^") + kStamp + R"( ERROR server: could not parse config file `typo\.toml`$)",
        std::string("^") + kStamp +
            R"( ERROR server:   caused by: line 1, column 1: unknown field `max_player`, expected one of .*`rcon`.*$)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto f = run({"--config", c.config});
    EXPECT_EQ(f.exit_code, 1);
    EXPECT_EQ(f.err, "");
    auto lines = lines_of(f.out);
    ASSERT_EQ(lines.size(), c.lines.size()) << f.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_TRUE(std::regex_match(lines[i], std::regex(c.lines[i]))) << lines[i];
    }
  }
}

TEST_F(ServerProgram, ServesUntilASignalThenExitsZero) {
  write("server.toml", "");
  const std::regex start_line(std::string("^") + kStamp +
                              R"(  INFO server: ostrel server starting version="0\.4\.2" config=server\.toml )"
                              R"(bind_addr=0\.0\.0\.0:47811 world_path=world max_players=16$)");
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    Child child({"--config", "server.toml"}, dir_);
    child.send(sig);
    auto f = child.finish();
    EXPECT_EQ(f.exit_code, 0);
    EXPECT_EQ(f.err, "");
    auto lines = lines_of(f.out);
    ASSERT_EQ(lines.size(), 1u) << f.out;
    EXPECT_TRUE(std::regex_match(lines[0], start_line)) << lines[0];
  }
  EXPECT_FALSE(fs::exists(dir_ / "world")) << "loading the configuration must create nothing";
}

TEST_F(ServerProgram, TwoQuickSignalsStopOnce) {
  write("server.toml", "bind_addr = \"[::1]:0\"\nworld_path = \"worlds/a\"\nmax_players = 2\n");
  Child child({"--config", "server.toml"}, dir_);
  child.send(SIGTERM);
  child.send(SIGINT);
  auto f = child.finish();
  EXPECT_EQ(f.exit_code, 0);
  EXPECT_THAT(f.out, HasSubstr("bind_addr=[::1]:0 world_path=worlds/a max_players=2\n"));
}

TEST_F(ServerProgram, LoggingFollowsTheEnvironment) {
  write("server.toml", "");
  struct Case {
    const char* name;
    std::vector<EnvVar> env;
    bool start_line;
    bool escapes;
  };
  const Case cases[] = {
      {"colour_by_default", {{"NO_COLOR", nullptr}}, true, true},
      {"empty_no_color_keeps_colour", {{"NO_COLOR", ""}}, true, true},
      {"no_color", {{"NO_COLOR", "1"}}, true, false},
      {"filter_error_only", {{"OSTREL_LOG", "error"}}, false, false},
      {"filter_module_off", {{"OSTREL_LOG", "info,server=warn"}}, false, false},
      {"bad_filter_means_info", {{"OSTREL_LOG", "loud"}}, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Child child({"--config", "server.toml"}, dir_, c.env);
    child.send(SIGINT);
    auto f = child.finish();
    EXPECT_EQ(f.exit_code, 0);
    EXPECT_EQ(f.out.find("ostrel server starting") != std::string::npos, c.start_line) << f.out;
    EXPECT_EQ(f.out.find('\x1b') != std::string::npos, c.escapes) << f.out;
  }
}

TEST_F(ServerProgram, CheckModsOnAnEmptyDirectoryPasses) {
  fs::create_directories(dir_ / "mods");
  auto f = run({"--check-mods", "mods"});
  EXPECT_EQ(f.exit_code, 0);
  EXPECT_EQ(f.out,
            "checking mods in `mods`\n"
            "  no mods loaded\n"
            "  warning: no blocks registered; this mod set has no placeable content\n"
            "  warning: no mods found under `mods`\n"
            "OK\n");
  EXPECT_EQ(f.err, "");
}

TEST_F(ServerProgram, CheckModsFailures) {
  write_mod(dir_ / "ticking", "clock", "game.register_on_tick(function() error('the spring broke') end)\n");
  write_mod(dir_ / "deps", "farm", "", "depends = [\"irrigation\"]\n");
  write_mod(dir_ / "paint", "walls",
            "game.register_block({ id = 'wall', name = 'Wall', textures = { all = '../outside.png' } })\n");
  write_mod(dir_ / "paint", "fine", "game.register_block({ id = 'ok', name = 'Ok' })\n");

  auto tick = run({"--check-mods", "ticking"});
  EXPECT_EQ(tick.exit_code, 1);
  EXPECT_THAT(tick.out, HasSubstr("checking mods in `ticking`\n  1 mod(s) loaded, in order:\n    clock 1.0.0\n"));
  EXPECT_THAT(tick.err, ::testing::StartsWith("  1 mod(s) FAILED:\n    clock: failed on its first tick: "));
  EXPECT_THAT(tick.err, HasSubstr("the spring broke"));
  EXPECT_THAT(tick.err, ::testing::EndsWith("\nFAILED — these mods would be silently disabled on a live server "
                                            "(charter rule 10), which is exactly what this command exists to "
                                            "surface.\n"));

  // Failures before a report: exactly three lines on standard error.
  auto missing = run({"--check-mods", "nowhere"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "checking mods in `nowhere`\n  no such directory: `nowhere`\nFAILED\n");

  auto deps = run({"--check-mods", "deps"});
  EXPECT_EQ(deps.exit_code, 1);
  EXPECT_THAT(deps.err, ::testing::MatchesRegex("checking mods in `deps`\n"
                                                "  could not resolve mod dependencies\n"
                                                "  caused by: [^\n]*irrigation[^\n]*\n"
                                                "FAILED\n"));

  auto paint = run({"--check-mods", "paint"});
  EXPECT_EQ(paint.exit_code, 1);
  EXPECT_THAT(paint.err, HasSubstr("  1 mod(s) FAILED:\n    walls: "));
  EXPECT_THAT(paint.err, HasSubstr("register_block(\"walls:wall\")"));
  EXPECT_THAT(paint.err, HasSubstr("texture path `../outside.png` escapes the mod directory"));
  EXPECT_THAT(paint.out, HasSubstr("  1 block(s) registered:\n    fine:ok (id 2)\n"));
}

TEST_F(ServerProgram, CheckModsEndsEveryOneLineRunawayWithTheBudget) {
  // Each line in a mod's init.lua and in another mod's on_tick handler; the check ends, and
  // names both with the budget's text.
  for (const auto& c : ostrel_core::test::kRunaways) {
    SCOPED_TRACE(c.name);
    const fs::path mods = dir_ / c.name;
    write_mod(mods, "at_load", std::string(c.code) + "\n");
    write_mod(mods, "on_tick", std::string("game.register_on_tick(function() ") + c.code + " end)\n");
    auto f = run({"--check-mods", c.name});
    EXPECT_EQ(f.exit_code, 1);
    EXPECT_THAT(f.err, HasSubstr("  2 mod(s) FAILED:\n"));
    EXPECT_THAT(f.err, HasSubstr("    at_load: mod `at_load` exceeded its instruction budget in init.lua\n"));
    EXPECT_THAT(f.err, HasSubstr("    on_tick: failed on its first tick: mod `on_tick` exceeded its "
                                 "instruction budget in on_tick\n"));
  }
}

TEST_F(ServerProgram, CreateModWritesAModThatLoads) {
  auto f = run({"--create-mod", "my_first_mod", "--into", "work/mods"});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.err, "");
  // Log lines of the check may come between the tool's own lines.
  EXPECT_THAT(f.out, ::testing::StartsWith("created `work/mods/my_first_mod`\n"));
  EXPECT_THAT(f.out, ::testing::EndsWith("checked: it loads and registers my_first_mod:beacon\n"
                                         "Put it in the server's mods directory and read its README.md.\n"));
  const auto mod = dir_ / "work" / "mods" / "my_first_mod";
  auto files = file_tree(mod);
  EXPECT_THAT(files["mod.toml"], HasSubstr("name = \"My First Mod\""));
  EXPECT_THAT(files["mod.toml"], HasSubstr("license = \"MIT\""));
  EXPECT_THAT(files["init.lua"], HasSubstr("SPDX-FileCopyrightText: My First Mod authors"));
  EXPECT_EQ(files.size(), 8u);

  // The second run refuses and changes nothing.
  auto again = run({"--create-mod", "my_first_mod", "--into", "work/mods"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(again.err, "cannot create the mod `my_first_mod`\n"
                       "  `work/mods/my_first_mod` already exists; a template never overwrites\n");
  EXPECT_EQ(file_tree(mod), files);

  // The new mod passes the check among other mods.
  write_mod(dir_ / "work" / "mods", "other", "game.register_block({ id = 'rock', name = 'Rock' })\n");
  auto check = run({"--check-mods", "work/mods"});
  EXPECT_EQ(check.exit_code, 0) << check.err;
  EXPECT_THAT(check.out, HasSubstr("  2 mod(s) loaded, in order:\n    my_first_mod 0.1.0\n    other 1.0.0\n"));
  EXPECT_THAT(check.out, HasSubstr("    my_first_mod:beacon (id 2)\n    other:rock (id 3)\n"));
  EXPECT_THAT(check.out, ::testing::EndsWith("OK\n"));
}

TEST_F(ServerProgram, CreateModOptionsAndRefusals) {
  // Without --into the mod goes into the working directory; the options fill the headers.
  auto here = run({"--create-mod", "lamps", "--name", "Lamp Works", "--license", "Apache-2.0", "--copyright",
                   "Ada Lovelace"});
  EXPECT_EQ(here.exit_code, 0) << here.err;
  EXPECT_THAT(here.out, ::testing::StartsWith("created `./lamps`\n"));
  auto files = file_tree(dir_ / "lamps");
  EXPECT_THAT(files["mod.toml"], HasSubstr("name = \"Lamp Works\""));
  EXPECT_THAT(files["mod.toml"], HasSubstr("license = \"Apache-2.0\""));
  EXPECT_THAT(files["README.md"], HasSubstr("SPDX-FileCopyrightText: Ada Lovelace"));
  EXPECT_THAT(files["README.md"], HasSubstr("SPDX-License-Identifier: Apache-2.0"));

  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {"bad_id", {"--create-mod", "Bad-Id", "--into", "out"},
       "cannot create the mod `Bad-Id`\n"
       "  `Bad-Id` is not a mod id: lowercase letters, digits and underscores, starting with a letter\n"},
      {"quote_in_name", {"--create-mod", "quotes", "--into", "out", "--name", "The \"Best\" Mod"},
       "cannot create the mod `quotes`\n  the name must be one line, not empty, with no double quote in it\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto f = run(c.args);
    EXPECT_EQ(f.exit_code, 1);
    EXPECT_EQ(f.out, "");
    EXPECT_EQ(f.err, c.err);
    EXPECT_FALSE(fs::exists(dir_ / "out"));
  }
}

}  // namespace

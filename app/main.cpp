// The `server` program: installs logging, reads the command line and runs one mode, then returns
// the exit code (0 clean, 1 failed, 2 usage error).
#include <cstdio>
#include <variant>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "mods/checkmods.hpp"
#include "start/cli.hpp"
#include "start/config.hpp"
#include "base/error.hpp"
#include "start/handle.hpp"
#include "start/serving.hpp"
#include "base/log.hpp"
#include "mods/scaffold.hpp"
#include "start/shutdown.hpp"
#include "base/version.hpp"

namespace server {

namespace config = ostrel_server::config;
namespace log = ostrel_core::log;

constexpr std::string_view kTarget = ostrel_server::handle::kMainTarget;

// Why serving ended unsuccessfully. Adds no line of its own to the report: the text is the inner
// error's text and the chain continues at the inner error's source.
class ServerError {
 public:
  explicit ServerError(config::ConfigError e) : inner_(std::move(e)) {}

  std::string message() const {
    return std::visit([](const auto& e) { return e.message(); }, inner_);
  }
  const ostrel_core::ErrorSource* source() const {
    return std::visit([](const auto& e) { return e.source(); }, inner_);
  }

 private:
  std::variant<config::ConfigError> inner_;
};

// The message at ERROR, then one "  caused by: {}" event per source in chain order.
void report(const ServerError& error) {
  auto lines = ostrel_core::error_chain(error);
  OSTREL_ERROR(kTarget, lines.front());
  for (std::size_t i = 1; i < lines.size(); ++i) OSTREL_ERROR(kTarget, fmt::format("  caused by: {}", lines[i]));
}

// Checks the mods directory given on the command line; 0 when nothing would be disabled.
int check_mods(const ostrel_server::cli::Cli& cli) {
  const std::string dir = cli.check_mods->string();
  auto report = ostrel_server::checkmods::check(*cli.check_mods);
  if (!report) {
    fmt::print(stderr, "checking mods in `{}`\n  {}\nFAILED\n", dir, report.error());
    return 1;
  }
  return ostrel_server::checkmods::report_and_code(dir, *report);
}

// Writes a new mod from the templates into `--into` (here when absent), then checks it alone.
int create_mod(const ostrel_server::cli::Cli& cli) {
  namespace scaffold = ostrel_server::scaffold;
  const auto mod = scaffold::NewMod::with_defaults(*cli.create_mod, cli.name, cli.license, cli.copyright);
  auto dir = scaffold::create(mod, cli.into.value_or("."));
  if (!dir) {
    fmt::print(stderr, "cannot create the mod `{}`\n  {}\n", *cli.create_mod, dir.error().message());
    return 1;
  }
  fmt::print("created `{}`\n", dir->string());
  std::fflush(stdout);
  auto report = scaffold::check_alone(*dir);
  if (!report) {
    fmt::print(stderr, "checking the new mod\n  {}\n", report.error());
    return 1;
  }
  if (!report->failed.empty()) {
    for (const auto& [name, reason] : report->failed) fmt::print(stderr, "FAILED {}: {}\n", name, reason);
    return 1;
  }
  fmt::print("checked: it loads and registers {}\n", fmt::join(report->blocks, ", "));
  fmt::print("Put it in the server's mods directory and read its README.md.\n");
  return 0;
}

int serve(const std::filesystem::path& config_path) {
  auto config = config::Config::load(config_path);
  if (!config) {
    report(ServerError(std::move(config.error())));
    return 1;
  }
  OSTREL_INFO(kTarget, "ostrel server starting", log::text("version", ostrel_core::kEngineVersion),
              log::value("config", config_path.string()), log::value("bind_addr", config->bind_addr),
              log::value("world_path", config->world_path.string()), log::value("max_players", config->max_players));
  // The console's `stop` ends the wait below as a signal does; made before the server starts so
  // that a stop sent while it assembles is kept. Start-up hands it to the console as its wake-up:
  // [stop_request] { stop_request.notify(); }
  const ostrel_server::shutdown::Notifier stop_request;
  {
    // Lent to the server's start and dropped when it returns; start-up joins here.
    [[maybe_unused]] const auto settings = ostrel_server::handle::Settings::from_config(*config);
  }
  auto signal = ostrel_server::shutdown::listen(stop_request);
  signal.wait();
  return 0;
}

int run(int argc, char** argv) {
  log::install(log::options_from_env());
  auto parsed = ostrel_server::cli::Cli::parse(argc, argv);
  if (!parsed.cli) return parsed.exit_code;
  const auto& cli = *parsed.cli;
  if (cli.check_mods) return check_mods(cli);
  if (cli.create_mod) return create_mod(cli);
  return serve(*cli.config);
}

}  // namespace server

int main(int argc, char** argv) { return server::run(argc, argv); }

#include "mods/scaffold.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "modload/manifest.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_server::scaffold {

namespace fs = std::filesystem;
using ostrel_core::IoError;

std::string ScaffoldError::message() const {
  switch (kind) {
    case ScaffoldErrorKind::BadId:
      return fmt::format("`{}` is not a mod id: lowercase letters, digits and underscores, starting with a letter",
                         id);
    case ScaffoldErrorKind::BadField:
      return fmt::format("the {} must be one line, not empty, with no double quote in it", field);
    case ScaffoldErrorKind::Exists:
      return fmt::format("`{}` already exists; a template never overwrites", path.string());
    case ScaffoldErrorKind::Write:
      return fmt::format("cannot write `{}`: {}", path.string(), cause ? cause->message() : std::string());
  }
  return {};
}

std::string title_of(std::string_view id) {
  std::string out;
  std::size_t start = 0;
  while (start <= id.size()) {
    const auto end = std::min(id.find('_', start), id.size());
    auto piece = id.substr(start, end - start);
    if (!piece.empty()) {
      if (!out.empty()) out += ' ';
      const char first = piece.front();
      out += (first >= 'a' && first <= 'z') ? static_cast<char>(first - 'a' + 'A') : first;
      out.append(piece.substr(1));
    }
    start = end + 1;
  }
  return out;
}

NewMod NewMod::with_defaults(std::string id, std::optional<std::string> name,
                             std::optional<std::string> license, std::optional<std::string> copyright) {
  NewMod mod;
  mod.name = name ? std::move(*name) : title_of(id);
  mod.license = license ? std::move(*license) : "MIT";
  mod.copyright = copyright ? std::move(*copyright) : fmt::format("{} authors", mod.name);
  mod.id = std::move(id);
  return mod;
}

namespace {

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t at = 0;
  for (auto hit = text.find(from); hit != std::string::npos; hit = text.find(from, at)) {
    out.append(text, at, hit - at);
    out.append(to);
    at = hit + from.size();
  }
  out.append(text, at);
  text = std::move(out);
}

// One line of text, not blank. Besides the line feed and the double quote, control characters
// and the backslash are refused too: the name and licence are written into the manifest's quoted
// strings, where either would make the new mod unreadable or change the value.
bool acceptable_field(std::string_view value) {
  bool blank = true;
  for (unsigned char c : value) {
    if (c == '"' || c == '\\' || c < 0x20 || c == 0x7f) return false;
    if (c != ' ') blank = false;
  }
  return !blank;
}

ScaffoldError write_error(fs::path path, int err) {
  return ScaffoldError{ScaffoldErrorKind::Write, {}, {}, std::move(path),
                       ostrel_core::make_source(IoError::from_errno(err))};
}

ScaffoldError write_error(fs::path path, std::error_code ec) {
  return ScaffoldError{ScaffoldErrorKind::Write, {}, {}, std::move(path),
                       ostrel_core::make_source(IoError::from_code(ec))};
}

// Writes a new file whole; never replaces one (the directory was made by this run).
std::expected<void, int> write_new_file(const fs::path& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return std::unexpected(errno);
  while (!bytes.empty()) {
    const auto n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return std::unexpected(err);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::close(fd) != 0) return std::unexpected(errno);
  return {};
}

}  // namespace

std::string substitute(std::string_view bytes, const NewMod& mod) {
  std::string text = ostrel_core::script::convert::valid_utf8(bytes);
  replace_all(text, "\r\n", "\n");
  replace_all(text, "{{MOD_ID}}", mod.id);
  replace_all(text, "{{MOD_NAME}}", mod.name);
  replace_all(text, "{{LICENSE}}", mod.license);
  replace_all(text, "SPDX-FileCopyrightText: Halvercot", "SPDX-FileCopyrightText: " + mod.copyright);
  replace_all(text, "SPDX-License-Identifier: MIT", "SPDX-License-Identifier: " + mod.license);
  return text;
}

std::expected<fs::path, ScaffoldError> create(const NewMod& mod, const fs::path& into) {
  if (!ostrel_core::modload::manifest::is_valid_id(mod.id)) {
    return std::unexpected(ScaffoldError{ScaffoldErrorKind::BadId, mod.id, {}, {}, nullptr});
  }
  const std::pair<const std::string*, const char*> fields[] = {
      {&mod.name, "name"}, {&mod.license, "licence"}, {&mod.copyright, "copyright holder"}};
  for (const auto& [value, word] : fields) {
    if (!acceptable_field(*value)) {
      return std::unexpected(ScaffoldError{ScaffoldErrorKind::BadField, {}, word, {}, nullptr});
    }
  }

  std::error_code ec;
  fs::create_directories(into, ec);
  if (ec) return std::unexpected(write_error(into, ec));
  // One mkdir both claims the directory and refuses anything already there, a dangling link too.
  const fs::path dir = into / mod.id;
  if (::mkdir(dir.c_str(), 0777) != 0) {
    if (errno == EEXIST) return std::unexpected(ScaffoldError{ScaffoldErrorKind::Exists, {}, {}, dir, nullptr});
    return std::unexpected(write_error(dir, errno));
  }

  for (const auto& t : templates()) {
    const fs::path target = dir / fs::path(t.path);
    const fs::path parent = target.parent_path();
    fs::create_directories(parent, ec);
    if (ec) return std::unexpected(write_error(parent, ec));
    const std::string filled = t.substituted ? substitute(t.bytes, mod) : std::string();
    auto written = write_new_file(target, t.substituted ? std::string_view(filled) : t.bytes);
    if (!written) return std::unexpected(write_error(target, written.error()));
  }
  return dir;
}

std::expected<void, IoError> copy_tree(const fs::path& src, const fs::path& dst) {
  std::error_code ec;
  fs::create_directories(dst, ec);
  if (ec) return std::unexpected(IoError::from_code(ec));
  fs::directory_iterator it(src, ec);
  if (ec) return std::unexpected(IoError::from_code(ec));
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const auto& entry = *it;
    const auto type = entry.symlink_status(ec);
    if (ec) return std::unexpected(IoError::from_code(ec));
    const fs::path to = dst / entry.path().filename();
    if (fs::is_directory(type)) {
      if (auto r = copy_tree(entry.path(), to); !r) return r;
    } else {
      fs::copy_file(entry.path(), to, ec);
      if (ec) return std::unexpected(IoError::from_code(ec));
    }
  }
  if (ec) return std::unexpected(IoError::from_code(ec));
  return {};
}

namespace {

// Removes the temporary mods directory when the check is done, whatever its outcome.
class TempDir {
 public:
  explicit TempDir(fs::path path) : path_(std::move(path)) {}
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace

std::expected<checkmods::CheckReport, std::string> check_alone(const fs::path& mod_dir) {
  fs::path dir = mod_dir;
  if (dir.filename().empty() && dir.has_relative_path()) dir = dir.parent_path();  // "a/b/"
  const fs::path name = dir.filename();
  if (name.empty() || name == "." || name == "..") {
    return std::unexpected(fmt::format("`{}` has no name to check under", mod_dir.string()));
  }

  // mkdtemp: a fresh directory under an unpredictable name, never one someone prepared.
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern =
      (base / fmt::format("ostrel-create-mod-{}-{}-XXXXXX",
                          ostrel_core::script::convert::valid_utf8(name.string()), ::getpid()))
          .string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) {
    return std::unexpected(
        fmt::format("cannot copy the mod out to check it: {}", IoError::from_errno(errno).message()));
  }
  const TempDir mods(fs::path(buf.data()));
  if (auto copied = copy_tree(dir, mods.path() / name); !copied) {
    return std::unexpected(fmt::format("cannot copy the mod out to check it: {}", copied.error().message()));
  }
  return checkmods::check(mods.path());
}

}  // namespace ostrel_server::scaffold

#include "modload/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <system_error>

#include <fmt/format.h>

namespace ostrel_core::modload::files {

namespace fs = std::filesystem;

std::expected<std::vector<std::uint8_t>, IoError> read_file(const fs::path& path,
                                                           std::size_t limit) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(IoError::from_errno(errno));
  std::vector<std::uint8_t> out;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    out.resize(std::min(static_cast<std::size_t>(st.st_size), limit) + 1);
  }
  std::size_t used = 0;
  while (used <= limit) {
    // Grow in steps; the file may be longer or shorter than fstat said.
    if (out.size() == used) out.resize(std::min(limit + 1, std::max<std::size_t>(used * 2, 65536)));
    ssize_t n = ::read(fd, out.data() + used, out.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      IoError err = IoError::from_errno(errno);
      ::close(fd);
      return std::unexpected(std::move(err));
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(used);
  return out;
}

std::expected<std::vector<std::uint8_t>, IoError> read_mod_file(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::unexpected(IoError::from_errno(errno));
  const auto fail = [&](IoError err) {
    ::close(fd);
    return std::unexpected(std::move(err));
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(IoError::from_errno(errno));
  if (S_ISDIR(st.st_mode)) return fail(IoError::from_errno(EISDIR));
  if (!S_ISREG(st.st_mode)) return fail(IoError("not a regular file"));
  if (static_cast<std::uint64_t>(st.st_size) > kMaxModFileBytes) {
    return fail(IoError(fmt::format("{} bytes, over the {} bytes a mod file may hold",
                                    static_cast<std::uint64_t>(st.st_size), kMaxModFileBytes)));
  }
  std::vector<std::uint8_t> out(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t used = 0;
  while (used <= kMaxModFileBytes) {
    // A file that grew since fstat is read on, but no further than one byte past the limit.
    if (used == out.size()) out.resize(std::min(kMaxModFileBytes + 1, used * 2));
    const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(IoError::from_errno(errno));
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (used > kMaxModFileBytes) {
    return std::unexpected(
        IoError(fmt::format("more than the {} bytes a mod file may hold", kMaxModFileBytes)));
  }
  out.resize(used);
  return out;
}

bool lies_within(const fs::path& root, const fs::path& p) {
  auto q = p.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++q) {
    if (r->empty() && std::next(r) == root.end()) break;  // a trailing separator
    if (q == p.end() || *r != *q) return false;
  }
  return true;
}

std::optional<fs::path> resolve_within(const fs::path& root, const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::canonical(p, ec);
  if (ec || !lies_within(root, c)) return std::nullopt;
  return c;
}

bool is_regular_file_within(const fs::path& dir, const fs::path& name) {
  std::error_code ec;
  fs::path root = fs::canonical(dir, ec);
  if (ec) return false;
  auto file = resolve_within(root, dir / name);
  return file && fs::is_regular_file(*file, ec);
}

}  // namespace ostrel_core::modload::files

#include "modload/files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <system_error>

namespace ostrel_core::modload::files {

namespace fs = std::filesystem;

std::expected<std::string, IoError> read_file(const fs::path& path, std::size_t limit) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(IoError::from_errno(errno));
  std::string out;
  char buf[65536];
  while (out.size() <= limit) {
    const std::size_t want = std::min(sizeof buf, limit + 1 - out.size());
    ssize_t n = ::read(fd, buf, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      IoError err = IoError::from_errno(errno);
      ::close(fd);
      return std::unexpected(std::move(err));
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
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

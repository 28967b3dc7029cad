#include "modload/content.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <system_error>

#include "modload/files.hpp"

namespace ostrel_core::content {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFileContext = "ostrel:content:v1";
constexpr std::string_view kModContext = "ostrel:mod-content:v1";
constexpr std::string_view kModSetContext = "ostrel:mod-set:v1";

constexpr std::array<std::string_view, 12> kDistributable = {
    "png", "jpg", "jpeg", "ogg", "wav", "glb", "gltf", "ttf", "otf", "ttc", "json", "toml"};

// Invalid sequences become U+FFFD, one per maximal ill-formed subpart.
std::string lossy_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    std::size_t need = 0;  // continuation bytes after the lead
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
    } else if (b == 0xE0) {
      need = 2, lo = 0xA0;
    } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
      need = 2;
    } else if (b == 0xED) {
      need = 2, hi = 0x9F;  // no surrogates
    } else if (b == 0xF0) {
      need = 3, lo = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
      need = 3;
    } else if (b == 0xF4) {
      need = 3, hi = 0x8F;
    }
    std::size_t j = i + 1;
    bool ok = need > 0;
    for (std::size_t k = 0; ok && k < need; ++k, ++j) {
      const auto c = j < s.size() ? static_cast<unsigned char>(s[j]) : 0;
      ok = j < s.size() && c >= (k == 0 ? lo : 0x80) && c <= (k == 0 ? hi : 0xBF);
      if (!ok) break;
    }
    if (ok) {
      out.append(s.substr(i, need + 1));
    } else {
      out += "\xEF\xBF\xBD";
    }
    i = j;
  }
  return out;
}

std::string with_forward_slashes(std::string s) {
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

// Component by component, each compared as bytes; a path that runs out first sorts first.
bool component_less(const fs::path& a, const fs::path& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](const fs::path& x, const fs::path& y) {
                                        return x.native() < y.native();
                                      });
}

}  // namespace

bool is_distributable(const fs::path& path) {
  const fs::path name = path.filename();
  if (name.empty() || name == "." || name == "..") return false;
  const std::string& n = name.native();
  const auto dot = n.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  std::string ext = n.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return std::find(kDistributable.begin(), kDistributable.end(), ext) != kDistributable.end();
}

std::expected<void, ContentError> collect(const fs::path& root, const fs::path& dir,
                                          std::vector<fs::path>& out) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return std::unexpected(ContentError::read(dir, IoError::from_code(ec)));
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path& entry = it->path();
    const fs::file_status st = it->symlink_status(ec);
    if (ec) return std::unexpected(ContentError::read(entry, IoError::from_code(ec)));
    if (fs::is_directory(st)) {
      if (auto r = collect(root, entry, out); !r) return r;
    } else if (fs::is_regular_file(st) && is_distributable(entry)) {
      out.push_back(entry.lexically_relative(root));
    }
  }
  if (ec) return std::unexpected(ContentError::read(dir, IoError::from_code(ec)));
  return {};
}

ContentHash hash_bytes(std::span<const std::uint8_t> bytes) {
  return blake3::Hasher().update(kFileContext).update(bytes).finalize();
}

ContentHash mod_set_hash(std::span<const OfferedMod> mods) {
  blake3::Hasher h;
  h.update(kModSetContext);
  for (const auto& m : mods) h.update(m.id).update(m.version).update(m.mod_hash);
  return h.finalize();
}

std::expected<ContentHash, ContentError> ContentIndex::add_mod_with(
    std::string_view mod_id, const fs::path& mod_dir, std::span<const std::string> extra) {
  std::vector<fs::path> list;
  if (auto r = collect(mod_dir, mod_dir, list); !r) return std::unexpected(std::move(r.error()));

  std::error_code ec;
  const fs::path root = fs::canonical(mod_dir, ec);
  for (const auto& e : extra) {
    if (ec) break;  // no canonical directory: every extra file is refused
    auto file = modload::files::resolve_within(root, root / with_forward_slashes(e));
    std::error_code type_ec;
    if (!file || !fs::is_regular_file(*file, type_ec)) continue;
    fs::path rel = file->lexically_relative(root);
    if (std::find(list.begin(), list.end(), rel) == list.end()) list.push_back(std::move(rel));
  }
  std::sort(list.begin(), list.end(), component_less);

  blake3::Hasher mod_hash;
  mod_hash.update(kModContext).update(mod_id);
  std::uint64_t total = 0;
  for (const auto& rel : list) {
    const fs::path full = mod_dir / rel;
    std::error_code size_ec;
    const std::uint64_t size = fs::file_size(full, size_ec);
    if (size_ec) return std::unexpected(ContentError::read(full, IoError::from_code(size_ec)));
    if (size > kMaxFileBytes) return std::unexpected(ContentError::file_too_large(full, size));
    total += size;
    if (total > kMaxModBytes) return std::unexpected(ContentError::mod_too_large(std::string(mod_id), total));
    auto bytes = modload::files::read_file(full, kMaxFileBytes);
    if (!bytes) return std::unexpected(ContentError::read(full, std::move(bytes.error())));
    // The file may have changed since its size was taken; the limits hold for what was read.
    if (bytes->size() > kMaxFileBytes)
      return std::unexpected(ContentError::file_too_large(full, bytes->size()));
    total = total - size + bytes->size();
    if (total > kMaxModBytes) return std::unexpected(ContentError::mod_too_large(std::string(mod_id), total));

    const ContentHash hash = hash_bytes(*bytes);
    std::string text = with_forward_slashes(lossy_utf8(rel.native()));
    mod_hash.update(text).update(hash);
    paths_[{std::string(mod_id), text}] = hash;
    if (!files_.contains(hash)) {
      total_bytes_ += bytes->size();
      files_.emplace(hash, ContentItem{std::move(text), std::string(mod_id), std::move(*bytes), hash});
    }
  }
  const ContentHash result = mod_hash.finalize();
  mods_.emplace_back(std::string(mod_id), result);
  return result;
}

std::optional<ContentHash> ContentIndex::hash_of(std::string_view mod_id,
                                                 std::string_view path) const {
  auto it = paths_.find({std::string(mod_id), with_forward_slashes(std::string(path))});
  if (it == paths_.end()) return std::nullopt;
  return it->second;
}

const ContentItem* ContentIndex::find(const ContentHash& hash) const {
  auto it = files_.find(hash);
  return it == files_.end() ? nullptr : &it->second;
}

ContentError ContentError::read(fs::path path, IoError io) {
  return {.kind = ContentErrorKind::Read, .path = std::move(path), .cause = make_source(std::move(io))};
}

ContentError ContentError::file_too_large(fs::path path, std::uint64_t bytes) {
  return {.kind = ContentErrorKind::FileTooLarge, .path = std::move(path), .bytes = bytes};
}

ContentError ContentError::mod_too_large(std::string mod_id, std::uint64_t total) {
  return {.kind = ContentErrorKind::ModTooLarge, .mod_id = std::move(mod_id), .bytes = total};
}

std::string ContentError::message() const {
  switch (kind) {
    case ContentErrorKind::Read:
      return fmt::format("could not read `{}`", path.string());
    case ContentErrorKind::FileTooLarge:
      return fmt::format(
          "`{}` is {} bytes, over the {}-byte per-file limit. Shipping it would make every joining "
          "player download it before they could play.",
          path.string(), bytes, kMaxFileBytes);
    case ContentErrorKind::ModTooLarge:
      return fmt::format("mod `{}` has {} bytes of content, over the {}-byte limit", mod_id, bytes,
                         kMaxModBytes);
  }
  return "unknown content error";
}

}  // namespace ostrel_core::content

#include "link/safe_names.h"

#include <system_error>

namespace ab {

bool IsSafeFileName(std::string_view name) {
  if (name.empty() || name == ".") return false;
  if (name.find_first_of(std::string_view("/\\:\0", 4)) != std::string_view::npos) return false;
  return name.find("..") == std::string_view::npos;
}

std::string FileNamePart(std::string_view path) {
  const size_t cut = path.find_last_of("\\:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::optional<std::filesystem::path> LocalPathInside(const std::filesystem::path& base,
                                                     std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  std::string local(path);
  for (char& c : local) {
    if (c == '\\') c = '/';
  }
  // A drive letter or any colon has no meaning under the working directory.
  if (local.find(':') != std::string::npos || local.front() == '/') return std::nullopt;
  const std::filesystem::path rel(local);
  for (const auto& part : rel) {
    if (part == "..") return std::nullopt;
  }
  std::error_code ec;
  const auto root = std::filesystem::weakly_canonical(base, ec);
  if (ec) return std::nullopt;
  const auto full = std::filesystem::weakly_canonical(base / rel, ec);
  if (ec) return std::nullopt;
  // A symbolic link inside the folder may still point out of it.
  std::string prefix = root.native();
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  const std::string& f = full.native();
  if (f.size() <= prefix.size() || f.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  return full;
}

}  // namespace ab

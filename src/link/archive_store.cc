#include "link/archive_store.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <system_error>
#include <vector>

#include "link/safe_names.h"
#include "util/bytes.h"

namespace ab {

namespace {
constexpr std::array<const char*, 3> kExtensions = {".fm8", ".fp8", ".fz8"};
constexpr std::array<int, 3> kLengthAt = {35, 43, 51};

std::filesystem::path WithExt(const std::filesystem::path& p, const char* ext) {
  return std::filesystem::path(p.native() + ext);
}
}  // namespace

std::filesystem::path ArchiveDatedPath(std::string_view archive) {
  const size_t cut = archive.find('_');
  const std::string_view rest = cut == std::string_view::npos ? archive : archive.substr(cut + 1);
  std::filesystem::path p;
  if (rest.size() == 4) {
    p = std::filesystem::path(std::string(rest));
  } else {
    p = std::filesystem::path(std::string(rest.substr(0, 4)));
    if (rest.size() > 4) p /= std::string(rest.substr(4, 2));
  }
  return p / std::string(archive);
}

std::optional<std::string> StoreArchive(const std::filesystem::path& file,
                                        const std::filesystem::path& folder, std::string* why) {
  auto fail = [&](std::string text) -> std::optional<std::string> {
    if (why != nullptr) *why = std::move(text);
    return std::nullopt;
  };
  std::ifstream in(file, std::ios::binary);
  if (!in) return fail("cannot open");
  std::array<uint8_t, kArchiveDescriptorSize> d{};
  in.read(reinterpret_cast<char*>(d.data()), d.size());
  if (in.gcount() != kArchiveDescriptorSize) return fail("short descriptor");
  const size_t n = std::min<size_t>(d[0], 30);
  std::string name(reinterpret_cast<const char*>(d.data() + 1), n);
  if (!IsSafeFileName(name)) return fail("archive name refused: " + name);

  std::error_code ec;
  const std::filesystem::path dated = folder / ArchiveDatedPath(name);
  std::filesystem::create_directories(dated.parent_path(), ec);
  if (ec) return fail("cannot create " + dated.parent_path().string());
  const std::filesystem::path flat = folder / name;
  for (const char* ext : kExtensions) {
    const auto old = WithExt(flat, ext);
    if (old != WithExt(dated, ext) && std::filesystem::exists(old, ec)) {
      std::filesystem::copy_file(old, WithExt(dated, ext),
                                 std::filesystem::copy_options::overwrite_existing, ec);
      std::filesystem::remove(old, ec);
    }
  }
  std::vector<char> buffer(64 * 1024);
  bool short_file = false;
  for (size_t i = 0; i < kExtensions.size(); ++i) {
    const auto target = WithExt(dated, kExtensions[i]);
    std::filesystem::remove(target, ec);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) return fail("cannot create " + target.string());
    // A negative length copies nothing; a length past the end copies what is there.
    int64_t left = std::max<int32_t>(GetI32(d.data() + kLengthAt[i]), 0);
    while (left > 0) {
      in.read(buffer.data(), static_cast<std::streamsize>(
                                 std::min<int64_t>(left, static_cast<int64_t>(buffer.size()))));
      const std::streamsize got = in.gcount();
      if (got <= 0) {
        short_file = true;
        break;
      }
      out.write(buffer.data(), got);
      left -= got;
    }
  }
  if (short_file && why != nullptr) *why = "archive shorter than its parts";
  return name;
}

}  // namespace ab

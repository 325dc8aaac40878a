// Drains an outbox whose current data file is the fuzz input: nothing may crash, read outside
// the file, loop, grow the file, or hand out a message that is not in the input.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "util/backsoob.h"
#include "util/bytes.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Base() {
  static const fs::path base = [] {
    std::string tmpl = (fs::temp_directory_path() / "ab-fuzz-backsoob-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    return fs::path(tmpl);
  }();
  return base;
}

void Write(const fs::path& p, std::string_view bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the pending count and whether a second, sound file follows.
  const int32_t pending = data[0] & 0x1F;
  const bool two_files = (data[0] & 0x80) != 0;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

  const fs::path dir = Base() / "dd8";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  uint8_t index[16];
  ab::PutI32(index, ab::TBackSoobString::kSignature);
  ab::PutI32(index + 4, pending + (two_files ? 1 : 0));
  ab::PutI32(index + 8, 0);
  ab::PutI32(index + 12, two_files ? 1 : 0);
  Write(dir / "backsoob.dat", std::string_view(reinterpret_cast<const char*>(index), 16));
  Write(dir / "bs0.dat", input);
  const std::string last = "\xFF\xFF\x04\x00\x00\x00last\xFE\xFF";
  if (two_files) Write(dir / "bs1.dat", last);

  ab::TBackSoobString store(Base());
  store.SubDir = "dd8";
  store.SetOpenRetries(0, std::chrono::milliseconds(0));
  store.Load();
  for (int round = 0; round < 64 && store.Pending() > 0; ++round) {
    const int32_t before = store.Pending();
    std::string message;
    if (store.ReadCurrent(message) && !message.empty() && message != "last" &&
        input.find(message) == std::string_view::npos) {
      std::abort();
    }
    if (fs::exists(dir / "bs0.dat") && fs::file_size(dir / "bs0.dat") > input.size()) {
      std::abort();
    }
    store.RemoveCurrent();
    // A store that was reset has nothing left; otherwise each removal takes exactly one.
    if (store.Pending() != before - 1 && store.Pending() != 0) std::abort();
  }
  return 0;
}

// Table loading and view rebuild against baselines measured in the same run. The goals are
// ratios: LoadFromFile plain <= 2 x (read the file + copy its bytes once into ready buffers),
// compressed <= 1.3 x zlib uncompress alone, Refresh <= 3 x a bare loop over p_d, and resident
// memory after a load <= 1.25 x the column bytes plus the process's resident size before it.
// A load must fault in fresh memory, which the read+copy baseline (ready buffers) does not;
// --retain_heap shows the loader's own cost once that memory is reused.
//
// The table: 100,000 rows, 212 fields (n_abs, p_d, then types 1, 2, 3, 6, 8, 11, 24 and one 15).

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "tables/base_client.h"
#include "tables/table_file_writer.h"
#include "tables/table_format.h"

namespace {

constexpr int32_t kRows = 100000;

struct ColumnGroup {
  uint8_t type;
  int32_t width;
  int count;
};
// 2 + 210 fields.
constexpr ColumnGroup kGroups[] = {{1, 4, 45}, {2, 12, 30}, {3, 1, 40},  {6, 4, 30},
                                   {8, 4, 30}, {11, 4, 16}, {24, 4, 18}, {15, 2, 1}};

struct Fixture {
  std::filesystem::path dir;
  std::filesystem::path plain;       // the raw file
  std::filesystem::path compressed;  // the same, zlib-compressed
  ab::Bytes packed;                  // compressed bytes in memory
  size_t raw_size = 0;
  size_t column_bytes = 0;  // what the loaded columns hold
};

// Writes the raw file directly (a data set in code would take gigabytes of vectors).
void Generate(Fixture& fx) {
  ab::Bytes out;
  std::vector<ab::FieldDescriptor> fields;
  auto add = [&](const std::string& name, uint8_t type, int32_t width) {
    ab::FieldDescriptor d;
    d.Number = static_cast<int32_t>(fields.size() + 1);
    d.Name = name;
    d.Type = type;
    d.Width = width;
    d.TextWidth = type == 15 ? 16 : 0;
    fields.push_back(d);
  };
  add("n_abs", 1, 4);
  add("p_d", 3, 1);
  for (const ColumnGroup& s : kGroups)
    for (int k = 0; k < s.count; ++k) add("f" + std::to_string(fields.size() + 1), s.type, s.width);

  // Pool of type 24: one short text per row.
  ab::Bytes pool;
  std::vector<int32_t> offsets(kRows);
  for (int32_t r = 0; r < kRows; ++r) {
    offsets[static_cast<size_t>(r)] = static_cast<int32_t>(pool.size());
    std::string text = "text " + std::to_string(r * 7919 % 100000);
    pool.push_back(static_cast<uint8_t>(text.size()));
    pool.insert(pool.end(), text.begin(), text.end());
  }
  for (auto& d : fields) {
    if (d.Type == 24) d.Count = static_cast<int32_t>(pool.size());
    if (d.Type == 15) d.Count = 50;
  }

  ab::AppendSlotText(out, "big", ab::kTableNameSlot);
  ab::AppendI32(out, kRows);
  ab::AppendI32(out, static_cast<int32_t>(fields.size()));
  ab::AppendI32(out, static_cast<int32_t>(fields.size()));
  for (const auto& d : fields) d.Append(out);
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (const auto& d : fields) {
    d.Append(out);
    if (d.Type == 15)
      for (uint32_t k = 1; k <= 50; ++k) {
        ab::AppendU32(out, k);
        std::string text = "state " + std::to_string(k);
        out.push_back(static_cast<uint8_t>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
      }
    size_t start = out.size();
    for (int32_t r = 0; r < kRows; ++r) {
      switch (d.Type) {
        case 1:
          ab::AppendI32(out, d.Number == 1 ? r + 1 : static_cast<int32_t>(next() % 100000));
          break;
        case 3:
          out.push_back(d.Number == 2 ? (r % 50 == 0 ? 1 : 0) : next() % 200);
          break;
        case 2:
          ab::AppendSlotText(out, "name " + std::to_string(next() % 10000), 12);
          break;
        case 6: {
          float f = static_cast<float>(next() % 100000) / 1000.0f;
          uint32_t bits;
          std::memcpy(&bits, &f, 4);
          ab::AppendU32(out, bits);
          break;
        }
        case 8:
          ab::AppendU32(out, 700000000u + next() % 1000000);
          break;
        case 11:
          ab::AppendU32(out, next());
          break;
        case 24:
          ab::AppendI32(out, offsets[static_cast<size_t>(r)]);
          break;
        case 15:
          ab::AppendU16(out, static_cast<uint16_t>(1 + next() % 50));
          break;
      }
    }
    fx.column_bytes += out.size() - start;
    if (d.Type == 24) {
      out.insert(out.end(), pool.begin(), pool.end());
      fx.column_bytes += pool.size();
    }
  }
  fx.raw_size = out.size();
  fx.packed = ab::Compress(out);
  fx.dir = std::filesystem::temp_directory_path() / ("ab-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(fx.dir / "temp");
  fx.plain = fx.dir / "big.raw";
  fx.compressed = fx.dir / "big.zip";
  std::ofstream(fx.plain, std::ios::binary)
      .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  std::ofstream(fx.compressed, std::ios::binary)
      .write(reinterpret_cast<const char*>(fx.packed.data()),
             static_cast<std::streamsize>(fx.packed.size()));
}

Fixture& Fx() {
  static Fixture fx = [] {
    Fixture f;
    Generate(f);
    return f;
  }();
  return fx;
}

std::unique_ptr<ab::TBaseClient> NewTable(bool compressed) {
  auto t = std::make_unique<ab::TBaseClient>(Fx().dir);
  t->NameTable = "big";
  t->RawFile = true;
  t->Compressed = compressed;
  return t;
}

// LoadFromFile deletes what it read: give it a fresh hard link each time.
std::filesystem::path Link(const std::filesystem::path& master) {
  std::filesystem::path p = Fx().dir / "temp" / "in.dat";
  std::filesystem::remove(p);
  std::filesystem::create_hard_link(master, p);
  return "temp/in.dat";
}

void BM_ReadAndCopyBaseline(benchmark::State& state) {
  Fixture& fx = Fx();
  std::vector<uint8_t> buffer(fx.raw_size);
  std::vector<uint8_t> columns(fx.raw_size);
  std::memset(columns.data(), 1, columns.size());
  for (auto _ : state) {
    FILE* f = std::fopen(fx.plain.c_str(), "rb");
    size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
    std::fclose(f);
    std::memcpy(columns.data(), buffer.data(), n);
    benchmark::DoNotOptimize(columns.data());
  }
}

// Context for the plain load: the same copy into freshly allocated column arrays, so the cost of
// faulting in new memory (which the goal's baseline does not pay) shows on its own.
void BM_ReadAndCopyFreshBaseline(benchmark::State& state) {
  Fixture& fx = Fx();
  std::vector<uint8_t> buffer(fx.raw_size);
  for (auto _ : state) {
    FILE* f = std::fopen(fx.plain.c_str(), "rb");
    size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
    std::fclose(f);
    std::vector<std::vector<uint8_t>> columns;
    size_t per_column = kRows * 4;
    for (size_t at = 0; at < n; at += per_column) {
      size_t k = std::min(per_column, n - at);
      columns.emplace_back(k);
      std::memcpy(columns.back().data(), buffer.data() + at, k);
    }
    benchmark::DoNotOptimize(columns.data());
    state.PauseTiming();
    columns.clear();
    state.ResumeTiming();
  }
}

void BM_LoadFromFile(benchmark::State& state) {
  bool compressed = state.range(0) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto t = NewTable(compressed);
    auto path = Link(compressed ? Fx().compressed : Fx().plain);
    state.ResumeTiming();
    if (t->LoadFromFile(path) != ab::TableLoadResult::kLoaded) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(t->Count());
    state.PauseTiming();
    t.reset();
    state.ResumeTiming();
  }
}

void BM_UncompressBaseline(benchmark::State& state) {
  Fixture& fx = Fx();
  std::vector<uint8_t> out(fx.raw_size);
  for (auto _ : state) {
    uLongf size = static_cast<uLongf>(out.size());
    uncompress(out.data(), &size, fx.packed.data(), static_cast<uLong>(fx.packed.size()));
    benchmark::DoNotOptimize(out.data());
  }
}

ab::TBaseClient& Loaded() {
  static std::unique_ptr<ab::TBaseClient> t = [] {
    auto table = NewTable(false);
    table->LoadFromFile(Link(Fx().plain));
    return table;
  }();
  return *t;
}

void BM_RefreshBaseline(benchmark::State& state) {
  const std::vector<uint8_t>& flags = Loaded().Fields[1]->Data.Bytes;
  std::vector<int32_t> view(flags.size());
  for (auto _ : state) {
    size_t n = 0;
    for (size_t i = 0; i < flags.size(); ++i)
      if (!(flags[i] & 1)) view[n++] = static_cast<int32_t>(i + 1);
    benchmark::DoNotOptimize(view.data());
    benchmark::DoNotOptimize(n);
  }
}

void BM_Refresh(benchmark::State& state) {
  ab::TBaseClient& t = Loaded();
  for (auto _ : state) {
    t.Refresh();
    benchmark::DoNotOptimize(t.Count());
  }
}

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

void BM_ResidentAfterLoad(benchmark::State& state) {
  Fixture& fx = Fx();
  double ratio = 0;
  for (auto _ : state) {
    malloc_trim(0);  // freed heap memory would otherwise be reused unseen
    long before = ResidentBytes();
    auto t = NewTable(false);
    t->LoadFromFile(Link(fx.plain));
    long after = ResidentBytes();
    ratio = static_cast<double>(after - before) / static_cast<double>(fx.column_bytes);
    benchmark::DoNotOptimize(t->Count());
  }
  state.counters["rss_over_columns"] = ratio;
  state.counters["column_MB"] = static_cast<double>(fx.column_bytes) / 1e6;
}

// First, before other runs leave freed memory behind.
BENCHMARK(BM_ResidentAfterLoad)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndCopyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndCopyFreshBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromFile)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UncompressBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromFile)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshBaseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Refresh)->Unit(benchmark::kMicrosecond);

// Keeps each run's time per iteration so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto ratio = [this](const char* what, const char* run, const char* base, double goal) {
      if (!times_.count(run) || !times_.count(base)) return;
      double value = times_[run] / times_[base];
      std::cout << what << ": " << value;
      if (goal > 0) std::cout << " (goal <= " << goal << ")";
      std::cout << "\n";
    };
    ratio("load plain / read+copy", "BM_LoadFromFile/0", "BM_ReadAndCopyBaseline", 2.0);
    ratio("load plain / read+copy into fresh arrays (context)", "BM_LoadFromFile/0",
          "BM_ReadAndCopyFreshBaseline", 0);
    ratio("load compressed / uncompress", "BM_LoadFromFile/1", "BM_UncompressBaseline", 1.3);
    ratio("refresh / bare p_d loop", "BM_Refresh", "BM_RefreshBaseline", 3.0);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  // --retain_heap: keep freed memory in the heap (as a program could with mallopt at start-up),
  // so a reload reuses pages already faulted in instead of fresh ones from the kernel.
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--retain_heap") {
      mallopt(M_MMAP_THRESHOLD, 32 << 20);
      mallopt(M_TRIM_THRESHOLD, 1 << 30);
      std::cout << "heap retained\n";
      for (int k = i; k + 1 < argc; ++k) argv[k] = argv[k + 1];
      --argc;
      break;
    }
  }
  benchmark::Initialize(&argc, argv);
  std::cout << "raw file " << Fx().raw_size / 1e6 << " MB, compressed " << Fx().packed.size() / 1e6
            << " MB, columns " << Fx().column_bytes / 1e6 << " MB\n";
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::error_code ec;
  std::filesystem::remove_all(Fx().dir, ec);
  return 0;
}

// Building the /GetObjects body for 10,000 selected objects with 2 pictures and 3 persons each,
// against the same bytes appended from prepared strings. The ratio is printed at the end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "objects_fixture.h"
#include "web/objects_resource.h"

namespace ab {
namespace {

constexpr int kObjects = bench::kDefaultObjects;
constexpr const char* kPublicAddress = "10.0.0.5:8090";

struct Fixture {
  bench::ObjectsFixture tables;
  std::vector<std::string> pieces;  // the body split at its commas
  size_t body_size = 0;

  Fixture() {
    std::string body = BuildObjectPassports(tables.set, kPublicAddress, std::nullopt);
    body_size = body.size();
    size_t start = 0;
    for (size_t i = 0; i <= body.size(); ++i) {
      if (i == body.size() || body[i] == ',') {
        pieces.push_back(body.substr(start, i - start));
        start = i + 1;
      }
    }
    if (Baseline() != body) std::abort();
  }

  // Reserved once, as the body builder sizes its output once: the baseline then does not
  // depend on how the allocator happens to grow a string.
  std::string Baseline() const {
    std::string out;
    out.reserve(body_size);
    bool first = true;
    for (const auto& p : pieces) {
      if (!first) out.push_back(',');
      first = false;
      out += p;
    }
    return out;
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_BuildObjectPassports(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    std::string body = BuildObjectPassports(f.tables.set, kPublicAddress, std::nullopt);
    benchmark::DoNotOptimize(body);
  }
  state.SetBytesProcessed(static_cast<int64_t>(f.body_size) * state.iterations());
}

void BM_AppendPreparedStrings(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    std::string body = f.Baseline();
    benchmark::DoNotOptimize(body);
  }
  state.SetBytesProcessed(static_cast<int64_t>(f.body_size) * state.iterations());
}

BENCHMARK(BM_BuildObjectPassports)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendPreparedStrings)->Unit(benchmark::kMillisecond);

// Prints the build time as a multiple of the baseline measured in the same run: CPU time per
// iteration (the machine is shared, so wall time carries other people's work), the median of
// the repetitions when there are several.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type != Run::RT_Iteration && !median) continue;
      if (r.run_type == Run::RT_Iteration && r.repetitions > 1) continue;
      double per_iter = r.cpu_accumulated_time / static_cast<double>(r.iterations);
      if (r.benchmark_name().find("BuildObjectPassports") != std::string::npos) build_ = per_iter;
      if (r.benchmark_name().find("AppendPreparedStrings") != std::string::npos) base_ = per_iter;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (build_ > 0 && base_ > 0) {
      std::printf("build: %.3f us/object; baseline: %.3f us/object; ratio %.2f (goal <= 3)\n",
                  build_ / kObjects * 1e6, base_ / kObjects * 1e6, build_ / base_);
    }
  }

 private:
  double build_ = 0, base_ = 0;
};

}  // namespace
}  // namespace ab

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ab::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

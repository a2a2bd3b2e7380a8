// Message building at the sizes the program must handle on the UI thread:
// "setProject" for 80,000 files and "setAudit" over 35 million lines.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/json.h"
#include "protocol/messages.h"

namespace varnholt_app {
namespace {

constexpr size_t kProjectFiles = 80'000;
constexpr size_t kAuditFiles = 70'000;
constexpr size_t kAuditLinesPerFile = 500;  // 35,000,000 lines in all
constexpr size_t kHotFiles = 30;

// Small deterministic generator; the models are large, std::mt19937 is slow.
struct XorShift {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

std::string windowsPath(size_t i) {
  return "C:\\Users\\dev\\src\\bigproject\\module" + std::to_string(i % 97) + "\\sub" +
         std::to_string(i % 13) + "\\file" + std::to_string(i) + ".cpp";
}

const ProjectFileMap& projectModel() {
  static const ProjectFileMap files = [] {
    ProjectFileMap map;
    map.reserve(kProjectFiles);
    XorShift random;
    for (size_t i = 0; i < kProjectFiles; ++i) {
      const double u = random.unit();
      map[windowsPath(i)].heatRaw = u * u * u * 5000.0;
    }
    return map;
  }();
  return files;
}

std::string utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// 35 million lines in 70,000 files; the 30 hottest lines lie in 30 files
// that exist in a temporary folder, the others are never read.
struct AuditModel {
  std::filesystem::path dir;
  ProjectFileMap files;

  AuditModel() {
    dir = std::filesystem::temp_directory_path() / "varnholt_messages_bench";
    std::filesystem::create_directories(dir);
    files.reserve(kAuditFiles);
    XorShift random;
    std::string text;
    for (size_t line = 0; line < kAuditLinesPerFile; ++line) {
      text += "\tfor (size_t i = 0; i < count; ++i) { total += values[i]; }\n";
    }
    for (size_t f = 0; f < kAuditFiles; ++f) {
      const std::filesystem::path path = dir / ("file" + std::to_string(f) + ".cc");
      ProjectFile& file = files[utf8(path)];
      file.path = utf8(path);
      std::vector<double> heats(kAuditLinesPerFile);
      for (double& v : heats) {
        v = random.unit() * 40.0;
        file.heatRaw += v;
      }
      if (f % (kAuditFiles / kHotFiles) == 0 && f / (kAuditFiles / kHotFiles) < kHotFiles) {
        heats[random.next() % kAuditLinesPerFile] = 100.0 + static_cast<double>(f);
        std::ofstream(path, std::ios::binary) << text;
      }
      file.lineHeatRaw = heats;
    }
  }
  ~AuditModel() { std::filesystem::remove_all(dir); }
};

const AuditModel& auditModel() {
  static const AuditModel model;
  return model;
}

void BM_ProjectMessage(benchmark::State& state) {
  const ProjectFileMap& files = projectModel();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string json = buildProjectMessage(files, 12'345'678);
    bytes = json.size();
    benchmark::DoNotOptimize(json);
  }
  state.counters["files"] = static_cast<double>(files.size());
  state.counters["json_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ProjectMessage)->Unit(benchmark::kMillisecond);

void BM_ProjectMessageToWide(benchmark::State& state) {
  const std::string json = buildProjectMessage(projectModel(), 12'345'678);
  for (auto _ : state) {
    std::u16string wide = utf8ToWide(json);
    benchmark::DoNotOptimize(wide);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(json.size()));
}
BENCHMARK(BM_ProjectMessageToWide)->Unit(benchmark::kMillisecond);

void BM_AuditMessage(benchmark::State& state) {
  const ProjectFileMap& files = auditModel().files;
  for (auto _ : state) {
    std::string json = buildAuditMessage(selectAuditItems(files));
    benchmark::DoNotOptimize(json);
  }
  state.counters["lines"] = static_cast<double>(kAuditFiles * kAuditLinesPerFile);
}
BENCHMARK(BM_AuditMessage)->Unit(benchmark::kMillisecond);

// At most 3 lines per file: every line of every file that might hold one is visited.
void BM_AuditMessagePerFile(benchmark::State& state) {
  const ProjectFileMap& files = auditModel().files;
  for (auto _ : state) {
    std::string json = buildAuditMessage(selectAuditItems(files, kAuditItemLimit, true, FileScope::All, 3));
    benchmark::DoNotOptimize(json);
  }
  state.counters["lines"] = static_cast<double>(kAuditFiles * kAuditLinesPerFile);
}
BENCHMARK(BM_AuditMessagePerFile)->Unit(benchmark::kMillisecond);

void BM_CodeMessage(benchmark::State& state) {
  // A large source file: 20,000 lines, about 1.2 MB.
  ProjectFile file;
  std::string text;
  XorShift random;
  std::vector<double> heats;
  for (int i = 0; i < 20'000; ++i) {
    text += "    if (value[i] > limit && other != nullptr) { return compute(i); }\n";
    heats.push_back(random.unit() * 12.0);
  }
  file.lineHeatRaw = heats;
  for (auto _ : state) {
    std::string json = buildCodeMessage(windowsPath(1), text, file);
    benchmark::DoNotOptimize(json);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_CodeMessage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnholt_app

BENCHMARK_MAIN();

// Throughput of the per-file analysis on typical inputs: this repository's
// own sources and generated code in several languages. Set
// VARNHOLT_BENCH_TREE to a source folder (for example an unpacked kernel)
// to add benchmarks over its .c and .h files, in memory and from disk.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/explain.h"
#include "analysis/file_heat.h"
#include "analysis/text_scanner.h"
#include "base/file_io.h"

namespace varnholt_app {
namespace {

struct Input {
  std::string text;
  LanguageId language;
};

// Small deterministic generator so that runs are comparable.
struct Rng {
  uint64_t state = 0x243f6a8885a308d3ull;
  uint32_t next(uint32_t bound) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>((state >> 33) % bound);
  }
};

std::string generate(LanguageId language, size_t bytes) {
  Rng rng;
  std::string out;
  out.reserve(bytes + 256);
  int depth = 0;
  const bool python = language == LanguageId::Python;
  const bool shell = language == LanguageId::Shell;
  const char* const names[] = {"count", "item", "buffer", "node", "value", "index", "result",
                               "self.state", "ctx->flags", "list.size()"};
  auto name = [&] { return std::string(names[rng.next(10)]); };
  while (out.size() < bytes) {
    std::string indent(static_cast<size_t>(depth) * 4, ' ');
    const uint32_t kind = rng.next(12);
    std::string line;
    if (python) {
      switch (kind) {
        case 0: line = "def " + name() + "_fn(a, b=None):"; break;
        case 1: line = "for " + name() + " in range(10):"; break;
        case 2: line = "if a and not b or " + name() + " > 3:"; break;
        case 3: line = "# " + name() + " is updated here"; break;
        case 4: line = "\"\"\"Docstring of " + name() + ".\"\"\""; break;
        case 5: line = "raise ValueError('bad ' + str(" + name() + "))"; break;
        default: line = name() + " = " + name() + " + " + std::to_string(rng.next(100)); break;
      }
    } else if (shell) {
      switch (kind) {
        case 0: line = "for f in \"$@\"; do"; break;
        case 1: line = "if [ -n \"$" + name() + "\" ]; then"; break;
        case 2: line = "  echo \"value: $x\" | grep -q foo && exit 1"; break;
        case 3: line = "# " + name(); break;
        case 4: line = "fi"; break;
        default: line = "export VAR_" + std::to_string(rng.next(50)) + "=$(" + name() + ")"; break;
      }
    } else {
      switch (kind) {
        case 0:
          line = "if (" + name() + " && " + name() + " != NULL || x > 3) {";
          ++depth;
          break;
        case 1:
          line = "for (int i = 0; i < " + name() + "; ++i) {";
          ++depth;
          break;
        case 2:
          if (depth > 0) {
            --depth;
            indent.resize(static_cast<size_t>(depth) * 4);
            line = "}";
          } else {
            line = "return 0;";
          }
          break;
        case 3: line = "// " + name() + " keeps the state of the parser"; break;
        case 4: line = "/* " + name() + " */ " + name() + " = \"text \\\" quoted\";"; break;
        case 5: line = "static int helper_" + std::to_string(rng.next(100)) + "(struct node *n) {"; ++depth; break;
        case 6: line = "x = a ? " + name() + " : " + name() + ".next.value.other.more;"; break;
        default: line = name() + " = " + name() + " + " + std::to_string(rng.next(100)) + ";"; break;
      }
    }
    out += indent + line + "\n";
  }
  return out;
}

std::vector<Input> loadTree(const std::filesystem::path& root,
                            const std::vector<std::string>& extensions, LanguageId language) {
  std::vector<Input> inputs;
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec)) return inputs;
  std::vector<std::filesystem::path> paths;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (!it->is_regular_file(ec)) continue;
    const std::string ext = it->path().extension().string();
    if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end()) continue;
    paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  for (const auto& p : paths) {
    Input in{{}, language};
    if (readWholeFile(p.native(), in.text, 2 * 1024 * 1024) && !in.text.empty()) {
      inputs.push_back(std::move(in));
    }
  }
  return inputs;
}

void runInputs(benchmark::State& state, const std::vector<Input>& inputs) {
  AnalysisScratch scratch;
  std::vector<double> heat;
  double sum = 0;
  int64_t bytes = 0;
  for (const Input& in : inputs) bytes += static_cast<int64_t>(in.text.size());
  for (auto _ : state) {
    for (const Input& in : inputs) {
      analyzeText(in.text, in.language, heat, sum, scratch);
      benchmark::DoNotOptimize(sum);
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["files"] = static_cast<double>(inputs.size());
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_OwnSources(benchmark::State& state) {
  static const std::vector<Input> inputs =
      loadTree(std::filesystem::path(VARNHOLT_SOURCE_DIR) / "src", {".cc", ".h"}, LanguageId::Cpp);
  if (inputs.empty()) {
    state.SkipWithError("no sources found");
    return;
  }
  runInputs(state, inputs);
}
BENCHMARK(BM_OwnSources)->Unit(benchmark::kMillisecond);

// Explaining one line of a 50,000-line file (its hottest) against analysing
// the whole file once: the explanation redoes the per-file pass. The file is
// this repository's sources laid end to end.
void BM_ExplainOneLine(benchmark::State& state) {
  static const std::string text = [] {
    const std::vector<Input> sources =
        loadTree(std::filesystem::path(VARNHOLT_SOURCE_DIR) / "src", {".cc", ".h"}, LanguageId::Cpp);
    std::string t;
    for (size_t lines = 0, k = 0; lines < 50000 && !sources.empty(); ++k) {
      const std::string& next = sources[k % sources.size()].text;
      const size_t room = 50000 - lines;
      size_t cut = 0, taken = 0;
      while (taken < room && (cut = next.find('\n', cut)) != std::string::npos) ++cut, ++taken;
      t.append(next, 0, cut == std::string::npos ? next.size() : cut);
      lines += taken;
    }
    return t;
  }();
  if (text.empty()) {
    state.SkipWithError("no sources found");
    return;
  }
  std::vector<double> heat;
  double sum = 0;
  analyzeText(text, LanguageId::Cpp, heat, sum);
  const auto hottest = static_cast<int32_t>(std::max_element(heat.begin(), heat.end()) - heat.begin() + 1);
  const LanguageProfile& profile = profileForLanguage(LanguageId::Cpp);
  for (auto _ : state) {
    if (state.range(0) == 0) {
      benchmark::DoNotOptimize(explainText(text, profile, {hottest}));
    } else {
      analyzeText(text, LanguageId::Cpp, heat, sum);
      benchmark::DoNotOptimize(sum);
    }
  }
  state.counters["lines"] = static_cast<double>(heat.size());
  state.SetLabel(state.range(0) == 0 ? "explain one line" : "analyse the file");
}
BENCHMARK(BM_ExplainOneLine)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Generated(benchmark::State& state) {
  const auto language = static_cast<LanguageId>(state.range(0));
  const std::vector<Input> inputs{{generate(language, 4 << 20), language}};
  runInputs(state, inputs);
}
BENCHMARK(BM_Generated)
    ->Arg(static_cast<int>(LanguageId::C))
    ->Arg(static_cast<int>(LanguageId::Swift))
    ->Arg(static_cast<int>(LanguageId::JavaScript))
    ->Arg(static_cast<int>(LanguageId::Python))
    ->Arg(static_cast<int>(LanguageId::Shell))
    ->Unit(benchmark::kMillisecond);

const char* treeRoot() { return std::getenv("VARNHOLT_BENCH_TREE"); }

void BM_TreeInMemory(benchmark::State& state) {
  static const std::vector<Input> inputs =
      treeRoot() ? loadTree(treeRoot(), {".c", ".h"}, LanguageId::C) : std::vector<Input>{};
  if (inputs.empty()) {
    state.SkipWithError("VARNHOLT_BENCH_TREE not set or empty");
    return;
  }
  runInputs(state, inputs);
}
BENCHMARK(BM_TreeInMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// Real code per language, from trees found on a Debian machine; the C
// corpus is the kernel tree's drivers/net. Each reports MB/s on one core.
struct Corpus {
  const char* root;
  std::vector<std::string> extensions;
  LanguageId language;
};

std::string kernelSubset() {
  return treeRoot() ? std::string(treeRoot()) + "/drivers/net" : std::string();
}

// The corpus of one language, loaded once; empty where the machine has none.
const std::vector<Input>& corpus(int64_t index) {
  static const Corpus corpora[] = {
      {"", {".c", ".h"}, LanguageId::C},
      {"/usr/lib/python3.11", {".py"}, LanguageId::Python},
      {"/usr/lib/node_modules", {".js"}, LanguageId::JavaScript},
      {"/usr/share/doc/git/contrib", {".go"}, LanguageId::Go},
  };
  static std::vector<Input> loaded[4];
  std::vector<Input>& inputs = loaded[index];
  if (inputs.empty()) {
    const Corpus& c = corpora[index];
    inputs = loadTree(index == 0 ? kernelSubset() : c.root, c.extensions, c.language);
  }
  return inputs;
}

void BM_Corpus(benchmark::State& state) {
  const std::vector<Input>& inputs = corpus(state.range(0));
  if (inputs.empty()) {
    state.SkipWithError("corpus not found on this machine");
    return;
  }
  runInputs(state, inputs);
}
BENCHMARK(BM_Corpus)
    ->ArgName("C_Python_JS_Go")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

// The whole-text scanner alone on the C corpus, by how many bytes it
// classifies at once (a width the CPU lacks runs as the next narrower one).
void BM_ScanWidth(benchmark::State& state) {
  const std::vector<Input>& inputs = corpus(0);
  const auto width = static_cast<ScanWidth>(state.range(0));
  if (inputs.empty() || width > widestScanWidth()) {
    state.SkipWithError(inputs.empty() ? "corpus not found on this machine" : "the CPU lacks this width");
    return;
  }
  const LanguageProfile& profile = profileForLanguage(LanguageId::C);
  std::vector<ScannedLine> lines(256);
  int64_t bytes = 0;
  for (const Input& in : inputs) bytes += static_cast<int64_t>(in.text.size());
  for (auto _ : state) {
    int64_t tokens = 0;
    for (const Input& in : inputs) {
      TextScanner scanner(in.text, profile, width);
      while (const size_t got = scanner.next(lines.data(), lines.size())) tokens += lines[got - 1].facts.tokenCount;
    }
    benchmark::DoNotOptimize(tokens);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ScanWidth)
    ->ArgName("plain_avx2_avx512")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

// analyzeFile as the worker calls it: read each file, then analyse it.
void BM_TreeFromDisk(benchmark::State& state) {
  static const std::vector<std::string> paths = [] {
    std::vector<std::string> out;
    if (!treeRoot()) return out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(treeRoot(), ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      const std::string ext = it->path().extension().string();
      if ((ext == ".c" || ext == ".h") && it->is_regular_file(ec)) out.push_back(it->path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }();
  if (paths.empty()) {
    state.SkipWithError("VARNHOLT_BENCH_TREE not set or empty");
    return;
  }
  AnalysisScratch scratch;
  int64_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (const std::string& p : paths) {
      ProjectFile file;
      file.path = p;
      file.language = p.back() == 'h' ? LanguageId::ObjC : LanguageId::C;
      analyzeFile(file, scratch);
      bytes += static_cast<int64_t>(scratch.text.size());
      benchmark::DoNotOptimize(file.heatRaw);
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["files"] = static_cast<double>(paths.size());
}
BENCHMARK(BM_TreeFromDisk)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace varnholt_app

BENCHMARK_MAIN();

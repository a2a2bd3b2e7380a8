// The per-file analysis of one language (the first byte picks it) against
// the literal model, and nothing more: a lean target that tries many inputs
// a second where fuzz_analysis checks everything about few.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <vector>

#include "analysis/file_heat.h"
#include "reference_model.h"

namespace {

using namespace varnholt_app;

constexpr size_t kMaxInput = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  const auto language = static_cast<LanguageId>(data[0] % (static_cast<int>(LanguageId::PlainText) + 1));
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  static AnalysisScratch scratch;
  static std::vector<double> heat;
  static std::vector<double> expected;
  double sum = -1;
  double expectedSum = 0;
  analyzeText(text, language, heat, sum, scratch);
  reference::analyzeText(text, profileForLanguage(language), expected, expectedSum);
  if (heat != expected || sum != expectedSum) {
    std::fprintf(stderr, "heat differs from the literal model (language %d)\n",
                 static_cast<int>(language));
    std::abort();
  }
  return 0;
}

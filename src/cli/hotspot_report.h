#pragma once
// varnholt-report --hotspots: the files and lines that are hot and change
// often, from the folder's git history.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/native_string.h"
#include "model/model.h"

namespace varnholt_app {

enum class HotspotFormat { Text, Json, Csv };

struct HotspotOptions {
  HotspotFormat format = HotspotFormat::Text;
  size_t topFiles = 20;
  size_t topLines = 30;
  std::optional<std::string> since;  // --since DATE|N.months
};

inline constexpr const char* kHotspotHelp =
    "\n"
    "Hotspots, from the folder's git history:\n"
    "  --hotspots       the files and lines that are hot and change often\n"
    "                   (file score: heat percentile times change percentile;\n"
    "                   line: raw heat times changes); --json as JSON lines,\n"
    "                   --format csv one row per file\n"
    "  --since W        the window: YYYY-MM-DD or N.days, N.weeks, N.months,\n"
    "                   N.years (default 12.months)\n"
    "  --rank hotspot   rank the findings and the hottest lines by line hotspot\n";

// What the command line asks of the history.
struct HotspotArgs {
  bool report = false;     // --hotspots
  bool rankLines = false;  // --rank hotspot
  std::optional<std::string> since;
};

// After the analysis: prints the hotspot report (true: the run is done), or
// for --rank hotspot weighs the lines by their changes.
bool runHotspots(const HotspotArgs& args, ProjectFileMap& files, const std::string& root,
                 HotspotFormat format, size_t topFiles);

// The window start for `since` against `now`; false when it cannot be read.
bool hotspotWindow(const std::optional<std::string>& since, int64_t now, int64_t& start);

// Reads the history of `root` (absolute, UTF-8) and prints the hotspots of
// `files` to stdout. Without history the report says why and lists none.
void printHotspotReport(const ProjectFileMap& files, const std::string& root,
                        const HotspotOptions& options, int64_t now);

// For --rank hotspot: every line's raw heat becomes its hotspot, its heat
// times its change count in the window, so that findings rank by it.
// Returns the note for stderr when there is no history.
std::string weighLinesByChanges(ProjectFileMap& files, const std::string& root, int64_t since,
                                int64_t now);

}  // namespace varnholt_app

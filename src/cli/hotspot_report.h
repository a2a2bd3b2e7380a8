#pragma once
// varnholt-report --hotspots: the files and lines that are hot and change
// often, from the folder's git history.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "model/model.h"

namespace varnholt_app {

enum class HotspotFormat { Text, Json, Csv };

struct HotspotOptions {
  HotspotFormat format = HotspotFormat::Text;
  size_t topFiles = 20;
  size_t topLines = 30;
  std::optional<std::string> since;  // --since DATE|N.months
  bool colour = false;
};

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

#include "cli/report_output.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "analysis/explain.h"
#include "analysis/file_heat.h"
#include "analysis/line_split.h"
#include "base/failure.h"
#include "base/file_io.h"
#include "base/run_beside.h"
#include "base/utf.h"
#include "project/hot_lines.h"
#include "project/scan_rules.h"
#include "protocol/explain_message.h"
#include "protocol/json.h"
#include "protocol/messages.h"
#include "protocol/paths.h"

namespace varnholt_app {

bool isTerminal(FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return ::isatty(::fileno(stream)) != 0;
#endif
}

void writeBytes(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

std::string printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return out;
}

std::string withGrouping(int64_t value) {
  const std::string digits = std::to_string(value);
  const size_t lead = value < 0 ? 1 : 0;
  std::string out = digits.substr(0, lead);
  for (size_t i = lead; i < digits.size(); ++i) {
    if (i > lead && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

namespace {

// The path below the folder, for display; the full path for anything else.
std::string relativePath(const std::string& path, const std::string& root) {
  if (path.size() > root.size() && path.compare(0, root.size(), root) == 0) {
    size_t start = root.size();
    while (start < path.size() && (path[start] == '/' || path[start] == '\\')) ++start;
    if (start > root.size() || root.empty() || root.back() == '/' || root.back() == '\\') {
      return path.substr(start);
    }
  }
  return path;
}

class Bars {
 public:
  explicit Bars(bool colour) : colour_(colour) {}

  // A ten-cell bar for a heat of 0..1, coloured from blue to red.
  std::string bar(double heat01) const {
    const double heat = std::clamp(heat01, 0.0, 1.0);
    const int cells = static_cast<int>(heat * 10.0 + 0.5);
    std::string out;
    if (colour_) {
      static const int kPalette[] = {27, 33, 39, 45, 49, 154, 220, 214, 208, 202, 196};
      out += "\x1b[38;5;" + std::to_string(kPalette[static_cast<int>(heat * 10.0)]) + "m";
    }
    for (int i = 0; i < 10; ++i) out += i < cells ? (colour_ ? "\xe2\x96\x88" : "#") : " ";
    if (colour_) out += "\x1b[0m";
    return out;
  }

 private:
  bool colour_;
};

std::vector<const ProjectFile*> filesInPathOrder(const ProjectFileMap& files) {
  std::vector<const ProjectFile*> sorted;
  sorted.reserve(files.size());
  for (const auto& entry : files) sorted.push_back(&entry.second);
  std::sort(sorted.begin(), sorted.end(),
            [](const ProjectFile* a, const ProjectFile* b) { return a->path < b->path; });
  return sorted;
}

// The terms of every line of one file, as the dump's "explain" member.
// Written in slices, so that a file of a million short lines never holds
// all its explanations, or all their text, at once.
void writeDumpExplanations(const ProjectFile& file) {
  constexpr size_t kSlice = 32768;
  std::string text;
  std::string out = ",\"explain\":[";
  if (readFileText(file.path, text)) {
    const size_t count = countSplitLines(text);
    const LanguageProfile& profile = profileForLanguage(file.language);
    std::vector<int32_t> lines;
    for (size_t first = 0; first < count; first += kSlice) {
      lines.clear();
      for (size_t i = first; i < std::min(count, first + kSlice); ++i) {
        lines.push_back(static_cast<int32_t>(i + 1));
      }
      for (const LineExplanation& e : explainText(text, profile, lines)) {
        if (e.line > 1) out += ',';
        appendExplanationJson(out, e);
      }
      writeBytes(out);
      out.clear();
    }
  }
  writeBytes(out + ']');
}

// One file of the dump up to its closing brace.
void appendDumpLine(std::string& out, const ProjectFile& file) {
  out += "{\"path\":";
  appendJsonString(out, file.path);
  out += ",\"language\":";
  appendInt(out, static_cast<int32_t>(file.language));
  out += ",\"heatRaw\":";
  appendShortest(out, file.heatRaw);
  out += ",\"lines\":[";
  for (size_t i = 0; i < file.lineHeatRaw.size(); ++i) {
    if (i > 0) out += ',';
    appendShortest(out, file.lineHeatRaw[i]);
  }
  out += ']';
}

}  // namespace

void printDump(const ProjectAnalysis& analysis, bool explain) {
  const std::vector<const ProjectFile*> files = filesInPathOrder(analysis.model.files);
  std::string line;
  if (explain) {
    for (const ProjectFile* file : files) {
      appendDumpLine(line, *file);
      writeBytes(line);
      line.clear();
      writeDumpExplanations(*file);
      writeBytes("}\n");
    }
  } else {
    // Two threads format alternate slices of files, written in order; a
    // slice holds about kSliceLines lines, so little is held at once.
    constexpr size_t kSliceLines = size_t{1} << 18;
    const auto sliceEnd = [&files](size_t from) {
      for (size_t lines = 0; from < files.size() && lines < kSliceLines; ++from) {
        lines += files[from]->lineHeatRaw.size() + 1;
      }
      return from;
    };
    const auto format = [&files](std::string& out, size_t from, size_t to) {
      out.clear();
      for (size_t i = from; i < to; ++i) {
        appendDumpLine(out, *files[i]);
        out += "}\n";
      }
    };
    std::string second;
    for (size_t next = 0; next < files.size();) {
      const size_t middle = sliceEnd(next);
      const size_t end = sliceEnd(middle);
      runBeside(
          [&] {
            format(line, next, middle);
            writeBytes(line);
          },
          [&] { format(second, middle, end); });
      writeBytes(second);
      next = end;
    }
  }
  line = "{\"totalLOC\":";
  appendInt(line, analysis.totalLines);
  line += "}\n";
  writeBytes(line);
}

void printJson(const ProjectAnalysis& analysis) {
  const ProjectFileMap& files = analysis.model.files;
  // The audit and the file lines are built beside the project message.
  std::string audit;
  std::string fileLines;
  const auto buildRest = [&] {
    audit = buildAuditMessage(selectAuditItems(files, kAuditItemLimit));
    fileLines = buildFileLinesMessage(files);
  };
  runBeside(
      [&] {
        writeBytes(buildProjectMessage(files, std::max(analysis.totalLines, 0)));
        writeBytes("\n");
      },
      buildRest);
  writeBytes(audit);
  writeBytes("\n");
  writeBytes(fileLines);
  writeBytes("\n");
}

void printReport(const ProjectAnalysis& analysis, const ProjectFileMap& shown,
                 const std::string& root, size_t top, bool byDensity, bool colour,
                 const ScopeCut& cut) {
  const ProjectFileMap& files = shown;
  const Bars bars(colour);
  const char* bold = colour ? "\x1b[1m" : "";
  const char* plain = colour ? "\x1b[0m" : "";
  std::string out;
  out += std::string(bold) + printable(std::string(folderDisplayName(root))) + plain + "  " + printable(root) +
         "\n";
  out += withGrouping(static_cast<int64_t>(cut.analysedFiles)) + " files analysed, " +
         withGrouping(analysis.totalLines) + " lines" + cut.note + "\n";
  writeBytes(out);

  std::vector<const ProjectFile*> hottest = filesInPathOrder(files);
  // Hottest first; equal heat keeps path order.
  std::stable_sort(hottest.begin(), hottest.end(),
                   [byDensity](const ProjectFile* a, const ProjectFile* b) {
                     return byDensity ? heatDensity(*a) > heatDensity(*b) : a->heatRaw > b->heatRaw;
                   });
  if (hottest.size() > top) hottest.resize(top);
  if (!hottest.empty()) {
    const HeatScale scale = projectHeatScale(analysis.model.files);
    char heading[128];
    std::snprintf(heading, sizeof heading, "%-14s%6s %14s%s  %s", "", "heat", "raw heat",
                  byDensity ? "   per line" : "", "path");
    out = "\n" + std::string(bold) + (byDensity ? "Densest files" : "Hottest files") + plain +
          "\n" + heading + "\n";
    for (const ProjectFile* file : hottest) {
      const double heat = scale.heat01(file->heatRaw);
      char figures[96];
      std::snprintf(figures, sizeof figures, "  %s %14s", formatFixed(heat, 4).c_str(),
                    formatFixed(file->heatRaw, 2).c_str());
      std::string perLine;
      if (byDensity) {
        perLine = formatFixed(heatDensity(*file), 2);
        perLine.insert(0, 11 - std::min<size_t>(9, perLine.size()), ' ');
      }
      out += "  " + bars.bar(heat) + figures + perLine + "  " +
             printable(relativePath(file->path, root)) + "\n";
    }
    writeBytes(out);
  }

  std::vector<AuditItem> items = selectAuditItems(files, kAuditItemLimit);
  // Lines outside the changes (NaN) come last and are not listed.
  std::erase_if(items, [](const AuditItem& item) { return std::isnan(item.cv); });
  if (!items.empty()) {
    char heading[128];
    std::snprintf(heading, sizeof heading, "%-14s%21s  %s", "", "raw heat", "line");
    out = "\n" + std::string(bold) + "Hottest lines" + plain + "\n" + heading + "\n";
    // Bars against the hottest line, which comes first.
    const double hottestLine = items.front().cv > 0 ? items.front().cv : 1.0;
    for (const AuditItem& item : items) {
      char figures[64];
      std::snprintf(figures, sizeof figures, "  %21s  ", formatFixed(item.cv, 2).c_str());
      std::string_view preview = item.preview;
      preview.remove_prefix(std::min(preview.find_first_not_of(' '), preview.size()));
      out += "  " + bars.bar(item.cv / hottestLine) + figures +
             printable(relativePath(item.path, root)) + ":" + std::to_string(item.lineStart) +
             "\n" + std::string(16, ' ') + printable(preview) + "\n";
    }
    writeBytes(out);
  }
}

void printExplanation(const NativeString& path, int32_t line, bool json, bool colour) {
  const std::string shown = printable(nativeToUtf8Lossy(path));
  std::error_code statError;
  if (std::filesystem::is_directory(std::filesystem::path(path), statError)) {
    throw Failure(shown + " is a folder, not a file");
  }
  std::string text;
  if (!readWholeFile(path, text, kFileWindowBytes)) throw Failure(shown + ": cannot be read");
  const std::string name = nativeToUtf8Lossy(std::filesystem::path(path).filename().native());
  const LanguageId language =
      languageForExtension(extensionOf(name)).value_or(LanguageId::PlainText);
  const std::vector<LineExplanation> found =
      explainText(text, profileForLanguage(language), {line});
  if (found.empty()) throw Failure(shown + " has no line " + std::to_string(line));
  const LineExplanation& e = found.front();
  std::string out;
  if (json) {
    out = "{\"path\":";
    appendJsonString(out, nativeToUtf8Lossy(path));
    out += ",\"language\":";
    appendInt(out, static_cast<int32_t>(language));
    out += ",\"explanation\":";
    appendExplanationJson(out, e);
    out += "}\n";
    writeBytes(out);
    return;
  }
  const char* bold = colour ? "\x1b[1m" : "";
  const char* plain = colour ? "\x1b[0m" : "";
  std::string_view source = splitLines(text)[static_cast<size_t>(e.line - 1)];
  source.remove_prefix(std::min(source.find_first_not_of(" \t"), source.size()));
  // At most 140 bytes, never ending inside a character.
  if (source.size() > 140) {
    size_t cut = 0;
    char32_t codePoint = 0;
    for (size_t next; (next = cut + decodeUtf8At(source, cut, codePoint)) <= 140;) cut = next;
    source = source.substr(0, cut);
  }
  out = std::string(bold) + shown + ":" + std::to_string(e.line) + "  heat " +
        formatFixed(e.heat, 2) + plain + "\n    " + printable(source) + "\n";
  if (!e.scored) {
    out += "  not scored: " + e.notScoredText + "\n";
    writeBytes(out);
    return;
  }
  out += "  base heat " + formatFixed(e.heatBase, 2) + " from complexity " +
         formatFixed(e.complexity, 4) + "; intensity " + formatFixed(e.intensity, 3) +
         (e.intensity > 0 ? " lets its surroundings lift it\n" : ", so nothing around it counts\n");
  for (const HeatReason& r : heatReasons(e)) {
    char figures[48];
    std::snprintf(figures, sizeof figures, "  %9s  ", formatFixed(r.points, 2).c_str());
    out += figures + r.text;
    if (r.factor > 0) out += "  \u00d7" + formatFixed(r.factor, 3);
    for (size_t k = 0; k < r.lines.size(); ++k) {
      out += (k == 0 ? " (line " : ", ") + std::to_string(r.lines[k]);
    }
    out += r.lines.empty() ? "\n" : ")\n";
  }
  writeBytes(out);
}

}  // namespace varnholt_app

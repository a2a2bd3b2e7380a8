#pragma once
// The language server's decisions: every message in, every message out,
// with no threads or I/O of its own. The process (lsp_main.cc) feeds it
// messages and finished scans and calls flush() whenever its queue is empty.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "lsp/document.h"
#include "lsp/heat_view.h"
#include "lsp/settings.h"
#include "project/project_analysis.h"

namespace varnholt_app {

using LspClock = std::chrono::steady_clock;

struct LspHost {
  std::function<void(std::string body)> send;  // one JSON message, framed by the host
  // Starts analysing `root` in the background (reusing `previous`); the host
  // answers with scanProgress and scanDone carrying `ticket`.
  std::function<void(const std::string& root, std::shared_ptr<const ProjectModel> previous,
                     uint64_t ticket)>
      startScan;
  std::function<void(const std::vector<std::string>& roots)> watch;  // null: no watching
  std::function<void(std::string_view line)> log;  // stderr; may be null
};

// The token of the work-done progress of the workspace's first scan.
inline constexpr std::string_view kProgressToken = "varnholt/scan";

class LspServer {
 public:
  explicit LspServer(LspHost host);
  ~LspServer();

  void handle(std::string_view body);
  void badFrame(std::string_view why);
  // Analyses changed buffers and publishes what follows from them.
  void flush();
  void scanProgress(uint64_t ticket, size_t done, size_t total);
  // `analysis` null: the scan failed (`failure` says why).
  void scanDone(uint64_t ticket, std::unique_ptr<ProjectAnalysis> analysis, std::string failure);
  void folderChanged(const std::string& root);
  // When the next timed step is due (a rescan after a burst of changes).
  std::optional<LspClock::time_point> nextDeadline() const;
  void tick(LspClock::time_point now);

  // Thread-safe: the reader thread marks requests the client gave up on.
  void cancel(const std::string& idKey);
  static std::optional<std::string> cancelTarget(std::string_view body);

  bool finished() const { return exited_; }
  int exitCode() const { return exitCode_; }

 private:
  struct Document {
    std::string uri;
    std::string path;  // empty when the URI names no local file
    int64_t version = 0;
    TextDocument text;
    LanguageId language = LanguageId::PlainText;
    bool analysable = true;  // in scope, not excluded, within the size limit, text
    bool dirty = true;
    BufferHeat heat;
  };
  struct Workspace {
    std::string root;
    std::shared_ptr<const ProjectModel> model;
    bool scanning = false;
    bool rescan = false;  // changed while a scan ran, or settings changed
    std::optional<LspClock::time_point> due;
    std::optional<LspClock::time_point> firstChange;  // of the changes the next rescan takes
  };

  void request(const nlohmann::json& id, const std::string& method, const nlohmann::json& params);
  void notification(const std::string& method, const nlohmann::json& params);
  void respond(const nlohmann::json& id, std::string_view result);
  void respondError(const nlohmann::json& id, int code, std::string_view message);
  void notify(std::string_view method, std::string_view params);
  void logMessage(int type, std::string_view text);

  std::string initializeResult(const nlohmann::json& params);
  void setRoots(std::vector<std::string> roots);
  void startScans();
  void refreshStats();
  void classify(Document& doc) const;
  void analyse(Document& doc);
  void publish(Document& doc);
  void clearDiagnostics(const Document& doc);
  Document* find(const nlohmann::json& params);
  std::string hover(Document& doc, const nlohmann::json& params);
  std::string codeLens(Document& doc);
  std::string inlayHints(Document& doc, const nlohmann::json& params);
  void changeConfiguration(const nlohmann::json& options);
  double diskHeatOf(const std::string& path, const ProjectFile** file = nullptr) const;

  LspHost host_;
  LspSettings settings_;
  ProjectStats stats_;
  std::map<std::string, Document> documents_;  // by URI
  std::vector<Workspace> workspaces_;
  std::unique_ptr<AnalysisScratch> scratch_;
  bool initialized_ = false;
  bool shutdown_ = false;
  bool exited_ = false;
  int exitCode_ = 1;
  bool progressSupported_ = false;
  bool progressOpen_ = false;
  int progressPercent_ = -1;
  uint64_t nextTicket_ = 1;
  std::map<uint64_t, size_t> tickets_;  // scan ticket -> workspace index
  int64_t nextRequestId_ = 1;
  bool firstScanDone_ = false;

  std::mutex cancelMutex_;
  std::set<std::string> cancelled_;
};

// The key a request id is compared by: "n:12" or "s:abc".
std::string requestIdKey(const nlohmann::json& id);

}  // namespace varnholt_app

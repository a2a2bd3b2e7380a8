#include "shell/history_session.h"

#include <ctime>
#include <utility>

#include "history/history_worker.h"
#include "history/hotspots.h"
#include "protocol/json.h"

namespace varnholt_app {

namespace {

constexpr uint64_t kProgressIntervalMs = 100;

}  // namespace

std::string buildHistoryProgressMessage(size_t done, size_t total) {
  std::string out = "{\"type\":\"setHistory\",\"state\":\"reading\",\"done\":";
  appendInt(out, static_cast<int64_t>(done));
  out += ",\"total\":";
  appendInt(out, static_cast<int64_t>(total));
  out += '}';
  return out;
}

std::string buildHistoryMessage(const History& history, const ProjectFileMap& files, const std::string& root) {
  std::string out = "{\"type\":\"setHistory\",\"state\":\"";
  out += history.state == HistoryState::Read ? "read" : "none";
  out += "\",\"reason\":";
  appendJsonString(out, history.reason);
  if (history.state != HistoryState::Read) return out + '}';
  out += ",\"since\":";
  appendJsonDate(out, history.since);
  out += ",\"countsFrom\":";
  appendJsonDate(out, history.countsFrom);
  out += ",\"commits\":";
  appendInt(out, static_cast<int64_t>(history.commits));
  out += ",\"files\":[";
  bool first = true;
  for (const FileHotspot& spot : rankFileHotspots(files, history, root)) {
    if (!first) out += ',';
    first = false;
    const FileHistory empty;
    const FileHistory& h = spot.history ? *spot.history : empty;
    out += "{\"path\":";
    appendJsonString(out, spot.file->path);
    out += ",\"score\":";
    appendFixed(out, spot.score, 4);
    out += ",\"heatPct\":";
    appendFixed(out, spot.heatPercentile, 4);
    out += ",\"changePct\":";
    appendFixed(out, spot.changePercentile, 4);
    out += ",\"changes\":";
    appendInt(out, h.commits);
    out += ",\"frequency\":";
    appendFixed(out, h.frequency, 4);
    out += ",\"authors\":";
    appendInt(out, static_cast<int64_t>(h.authors.size()));
    out += ",\"lastChange\":";
    appendJsonDate(out, h.lastChange);
    out += '}';
  }
  out += "]}";
  return out;
}

std::string buildLineHistoryMessage(std::string_view path, const FileHistory* file) {
  std::string out = "{\"type\":\"setLineHistory\",\"path\":";
  appendJsonString(out, path);
  // Runs of equal lines, [length, changes, last change as "YYYY-MM-DD" or null].
  out += ",\"runs\":[";
  if (file != nullptr) {
    bool first = true;
    for (const LineRun& run : file->runs) {
      if (!first) out += ',';
      first = false;
      out += '[';
      appendInt(out, run.length);
      out += ',';
      appendInt(out, run.changes);
      out += ',';
      appendJsonDate(out, run.lastChange);
      out += ']';
    }
  }
  out += "]}";
  return out;
}

HistorySession::HistorySession(Platform& platform, PageSession& page) : platform_(platform), page_(page) {
  page_.setFollower(this);
}

HistorySession::~HistorySession() { page_.setFollower(nullptr); }

void HistorySession::onDestroy() { worker_.reset(); }

void HistorySession::onProject(const NativeString& root, std::shared_ptr<const ProjectModel> model, bool repeat) {
  std::string utf8 = nativeToUtf8Lossy(root);
  if (utf8 != folder_) {
    // The page drops what it shows of the last folder's history.
    if (std::exchange(history_, nullptr) && page_.ready()) page_.postJson(buildHistoryProgressMessage(0, 0));
    done_ = total_ = 0;
  }
  folder_ = std::move(utf8);
  model_ = std::move(model);
  if (!worker_) {
    const std::shared_ptr<Dispatcher> ui = platform_.dispatcher();
    if (!ui) return;
    // Both run on the worker's thread, which never touches this object.
    worker_ = std::make_unique<HistoryWorker>(
        [ui, this](const std::string& folder, size_t done, size_t total) {
          ui->dispatch([this, folder, done, total] { onProgress(folder, done, total); });
        },
        [ui, this](const std::string& folder, std::shared_ptr<const History> history) {
          ui->dispatch([this, folder, history = std::move(history)]() mutable {
            onHistory(folder, std::move(history));
          });
        });
  }
  // A HEAD that moved is only seen by asking: after every adopted run. An
  // unchanged HEAD costs git one look and sends nothing.
  worker_->request(folder_, static_cast<int64_t>(std::time(nullptr)));
  // New heat moves the scores.
  if (!repeat && history_ && history_->state == HistoryState::Read) sendFiles();
}

void HistorySession::onProgress(const std::string& folder, size_t done, size_t total) {
  if (folder != folder_) return;
  done_ = done;
  total_ = total;
  if (!page_.ready()) return;
  const uint64_t now = platform_.monotonicMs();
  if (done < total && now - lastProgressMs_ < kProgressIntervalMs) return;
  lastProgressMs_ = now;
  page_.postJson(buildHistoryProgressMessage(done, total));
}

void HistorySession::onHistory(const std::string& folder, std::shared_ptr<const History> history) {
  if (folder != folder_ || !history) return;
  history_ = std::move(history);
  done_ = total_ = 0;
  sendFiles();
  sendShownLines();
}

void HistorySession::sendFiles() {
  if (!page_.ready() || !history_ || !model_) return;
  page_.postJson(buildHistoryMessage(*history_, model_->files, folder_));
}

void HistorySession::sendShownLines() {
  if (!model_) return;
  const auto file = model_->files.find(page_.shownPath());
  if (file != model_->files.end()) afterCode(file->first, file->second);
}

void HistorySession::afterCode(const std::string& path, const ProjectFile&) {
  if (!page_.ready() || !history_ || history_->state != HistoryState::Read) return;
  const std::string below = pathBelow(path, folder_);
  if (below.empty()) return;
  page_.postJson(buildLineHistoryMessage(path, history_->find(below)));
}

// The code view's "setCode" has gone out already, with its lines.
void HistorySession::afterPageReady() {
  if (history_) {
    sendFiles();
  } else if (worker_ && total_ > 0) {
    page_.postJson(buildHistoryProgressMessage(done_, total_));
  }
}

}  // namespace varnholt_app

// varnholt-lsp: the language server on stdin/stdout. One thread reads and
// frames stdin, scans and the folder watcher run in the background, and
// this one owns the server: everything reaches it through one queue.

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "base/native_string.h"
#include "lsp/framing.h"
#include "lsp/server.h"
#include "project/folder_watcher.h"

namespace varnholt_app {
namespace {

struct Message { std::string body; };
struct BadFrame { std::string why; };
struct InputClosed {};
struct Progress { uint64_t ticket; size_t done, total; };
struct ScanEnded {
  uint64_t ticket;
  std::shared_ptr<ProjectAnalysis> analysis;  // shared: std::function needs copies
  std::string failure;
};
struct FolderChanged { std::string root; };
using Event = std::variant<Message, BadFrame, InputClosed, Progress, ScanEnded, FolderChanged>;

class EventQueue {
 public:
  void push(Event e) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::move(e));
    }
    ready_.notify_one();
  }
  void pushAll(std::vector<Event> batch) {
    if (batch.empty()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (Event& e : batch) events_.push_back(std::move(e));
    }
    ready_.notify_one();
  }
  bool tryPop(Event& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (events_.empty()) return false;
    out = std::move(events_.front());
    events_.pop_front();
    return true;
  }
  void wait(std::optional<LspClock::time_point> until) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (until) {
      ready_.wait_until(lock, *until, [&] { return !events_.empty(); });
    } else {
      ready_.wait(lock, [&] { return !events_.empty(); });
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Event> events_;
};

void writeAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t n = std::fwrite(bytes.data() + done, 1, bytes.size() - done, stdout);
    if (n == 0) return;  // the client is gone; the read side will see it
    done += n;
  }
  std::fflush(stdout);
}

void readInput(EventQueue& queue, LspServer& server) {
  FrameReader reader;
  std::string chunk(1 << 16, '\0'), body;
  for (;;) {
#ifdef _WIN32
    const int n = _read(0, chunk.data(), static_cast<unsigned>(chunk.size()));
#else
    const ssize_t n = ::read(0, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n <= 0) break;
    reader.append(std::string_view(chunk.data(), static_cast<size_t>(n)));
    // Cancels are marked before any frame of the read is queued, so a
    // request and its cancel that arrive together never race.
    std::vector<Event> batch;
    for (;;) {
      const FrameReader::Result r = reader.next(body);
      if (r == FrameReader::Result::NeedMore) break;
      if (r == FrameReader::Result::BadHeader) {
        batch.emplace_back(BadFrame{body});
        continue;
      }
      if (const auto key = LspServer::cancelTarget(body)) server.cancel(*key);
      batch.emplace_back(Message{std::move(body)});
    }
    queue.pushAll(std::move(batch));
  }
  queue.push(InputClosed{});
}

int run() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  EventQueue queue;
  std::vector<std::unique_ptr<FolderWatcher>> watchers;
  LspHost host;
  host.send = [](std::string body) { writeAll(frameMessage(body)); };
  host.log = [](std::string_view line) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  };
  host.startScan = [&queue](const std::string& root, std::shared_ptr<const ProjectModel> previous,
                            uint64_t ticket) {
    std::thread([&queue, root, previous, ticket] {
      try {
        AnalyzeOptions options;
        options.previous = previous.get();
        options.progress = [&queue, ticket](const AnalysisProgress& p) {
          queue.push(Progress{ticket, p.filesDone, p.filesTotal});
        };
        auto analysis = std::make_shared<ProjectAnalysis>(analyzeProject(utf8ToNative(root), options));
        queue.push(ScanEnded{ticket, std::move(analysis), {}});
      } catch (const std::exception& e) {
        queue.push(ScanEnded{ticket, nullptr, e.what()});
      }
    }).detach();
  };
  host.watch = [&queue, &watchers](const std::vector<std::string>& roots) {
    watchers.clear();
    for (const std::string& root : roots) {
      watchers.push_back(std::make_unique<FolderWatcher>());
      // The watcher's thread only queues the event; the server handles it.
      startFolderWatcher(*watchers.back(), [&queue, root](FolderChanges) { queue.push(FolderChanged{root}); },
                         utf8ToNative(root));
    }
  };
  LspServer server(host);
  std::thread(readInput, std::ref(queue), std::ref(server)).detach();

  bool inputOpen = true;
  while (!server.finished() && inputOpen) {
    Event event;
    if (!queue.tryPop(event)) {
      // Everything that came in is applied: now analyse, once for a burst of edits.
      server.flush();
      if (!queue.tryPop(event)) {
        queue.wait(server.nextDeadline());
        server.tick(LspClock::now());
        continue;
      }
    }
    if (auto* m = std::get_if<Message>(&event)) {
      server.handle(m->body);
    } else if (auto* b = std::get_if<BadFrame>(&event)) {
      server.badFrame(b->why);
    } else if (std::holds_alternative<InputClosed>(event)) {
      inputOpen = false;
    } else if (auto* p = std::get_if<Progress>(&event)) {
      server.scanProgress(p->ticket, p->done, p->total);
    } else if (auto* s = std::get_if<ScanEnded>(&event)) {
      std::unique_ptr<ProjectAnalysis> analysis;
      if (s->analysis) analysis = std::make_unique<ProjectAnalysis>(std::move(*s->analysis));
      server.scanDone(s->ticket, std::move(analysis), s->failure);
#ifdef __GLIBC__
      malloc_trim(0);  // the replaced model's pages go back, not only to the heap
#endif
    } else if (auto* f = std::get_if<FolderChanged>(&event)) {
      server.folderChanged(f->root);
    }
  }
  for (auto& w : watchers) stopFolderWatcher(*w);
  std::fflush(stdout);
  // Background scans may still run; they hold nothing that needs closing.
  std::_Exit(server.finished() ? server.exitCode() : 1);
}

}  // namespace
}  // namespace varnholt_app

int main() { return varnholt_app::run(); }

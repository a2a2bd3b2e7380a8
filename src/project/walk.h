#pragma once
// The project walk: every analysable file below a root folder, with its
// language, keyed by its full UTF-8 path.

#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

#include "base/failure.h"
#include "base/native_string.h"
#include "model/model.h"

namespace varnholt_app {

struct FileStampHash {
  size_t operator()(const FileStamp& s) const {
    uint64_t h = s.object * 0x9E3779B97F4A7C15ull ^ s.volume;
    h = (h ^ static_cast<uint64_t>(s.modified)) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(h ^ static_cast<uint64_t>(s.size) ^ static_cast<uint64_t>(s.changed));
  }
};
// Stamps of files that an earlier walk found to be text. A file with the same
// stamp holds the same bytes, so the test is not run on it again.
using TextStamps = std::unordered_set<FileStamp, FileStampHash>;

// Walks `root` into a fresh model. The root itself is never filtered: a root
// named "build" is walked, a root that is a file gives at most one record, a
// root that does not exist gives an empty model. Throws Failure when a
// directory listing breaks off mid-way or a name has no UTF-8 form: no
// partial model is meant to survive that.
//
// Directories are listed on up to `threads` threads (0: one per hardware
// thread); the model, including the order in which records are inserted,
// is the same for every thread count.
// The model's scanStart is the file clock before the first listing.
ProjectModel scanProject(const NativeString& root, int threads = 0,
                         const TextStamps* knownText = nullptr);

// Adds every analysable file at or below `path` to `files`; an existing key
// keeps its record. The stamps of files admitted by the text test go to
// `textByContent` if given. Throws Failure as scanProject does.
void scanPath(const NativeString& path, ProjectFileMap& files, int threads = 0,
              const TextStamps* knownText = nullptr,
              std::vector<FileStamp>* textByContent = nullptr);

// Work on the files of a walk, done by the walk's own threads while they
// list the rest of the tree.
class FileWork {
 public:
  virtual ~FileWork() = default;
  // What one walk thread does with each file a listing admits, given the
  // record the file gets when the walk keys it by the path it was listed
  // under (a directory that several paths lead to is listed under one of
  // them). Every thread gets its own; waiting directories go first.
  virtual std::function<void(ProjectFile&)> worker() = 0;
};

// A walk of the whole tree below `root` whose threads do `work` on the
// files as they come. scanStart is left to the caller.
class WorkingWalk {
 public:
  WorkingWalk(const NativeString& root, int threads, const TextStamps* knownText, FileWork& work);
  ~WorkingWalk();  // waits for the threads; errors are lost then
  WorkingWalk(const WorkingWalk&) = delete;
  WorkingWalk& operator=(const WorkingWalk&) = delete;

  // Takes part until every directory is listed, then puts the records into
  // `model` as scanProject does while the other threads go on with the
  // files. `unlisted` gets the records made anew here, which work never saw:
  // those of a directory listed under another path than the one the walk
  // keys it by. Throws as scanProject does.
  void list(ProjectModel& model, std::vector<ProjectFile*>& unlisted);
  // Takes part in the work on the files (or with `tick`, calls it about
  // every 100 ms on this thread instead) until all is done, and rethrows
  // the first error of any thread. Returns the records work saw that are
  // not in the model: the work on them counts for nothing.
  std::vector<const ProjectFile*> finish(const std::function<void()>& tick = {});

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// `parent` and `name` joined by the platform's separator, which is left out
// when `parent` already ends in a separator.
NativeString joinPath(const NativeString& parent, const NativeString& name);

}  // namespace varnholt_app

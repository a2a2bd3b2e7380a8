#pragma once
// The project walk: every analysable file below a root folder, with its
// language, keyed by its full UTF-8 path.

#include <stdexcept>

#include "base/native_string.h"
#include "model/model.h"

namespace varnholt_app {

// Ends a whole walk: a directory listing broke off mid-way, or a name has no
// UTF-8 form. No partial model is meant to survive it.
class WalkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Walks `root` into a fresh model. The root itself is never filtered: a root
// named "build" is walked, a root that is a file gives at most one record, a
// root that does not exist gives an empty model. Throws WalkError.
//
// Directories are listed on up to `threads` threads (0: one per hardware
// thread); the model, including the order in which records are inserted,
// is the same for every thread count.
ProjectModel scanProject(const NativeString& root, int threads = 0);

// Adds every analysable file at or below `path` to `files`; an existing key
// keeps its record. Throws WalkError.
void scanPath(const NativeString& path, ProjectFileMap& files, int threads = 0);

// `parent` and `name` joined by the platform's separator, which is left out
// when `parent` already ends in a separator.
NativeString joinPath(const NativeString& parent, const NativeString& name);

}  // namespace varnholt_app

#pragma once
// How an operation that can fail says why: it throws a Failure with one line
// for the user, and only the place that reports it catches (the report's
// main, the analysis worker's thread). Failures end a whole operation (a
// walk, a baseline, the command line) from deep inside loops and worker
// threads, where a returned status would have to be passed up by every
// level; results that are not failures (a gate that fails, a file too big
// to read) stay plain return values.

#include <stdexcept>

namespace varnholt_app {

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace varnholt_app

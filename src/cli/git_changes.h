#pragma once
// Lines added or changed since a git revision, for --changed-since.

#include <string>
#include <string_view>

#include "cli/findings.h"

namespace varnholt_app {

// The new-side line ranges of `git diff -U0` output, by path without the
// "b/" prefix. Added to `out`.
void parseUnifiedDiff(std::string_view diff, ChangedLines& out);

// Asks git about `folder` (absolute, UTF-8): the lines of its work tree
// changed since `revision`, plus every file git does not track yet, by path
// relative to `folder`. Throws Failure with a one-line reason.
ChangedLines changedLinesSince(const std::string& folder, const std::string& revision);

}  // namespace varnholt_app

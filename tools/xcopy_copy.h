// The copying half of the XCOPY stand-in: carries out one read XcopyRequest on the host's file
// system and reports the outcome that decides the exit code.
#pragma once

#include "tools/xcopy_params.h"

namespace xcopy {

enum class XcopyOutcome {
    Copied,          // everything was copied (also when a source folder held nothing to copy)
    SourceNotFound,  // nothing exists at the source path
    CyclicCopy,      // the destination lies inside the tree that is to be copied
    CopyFailed,      // a read, write or verification error; the run stopped at the first one
};

// XCOPY's exit code for an outcome: 0, 4 (source not found, cyclic copy) or 5 (read, write or
// verification error). An unreadable parameter string is also 4; the caller decides that.
int ExitCodeOf(XcopyOutcome outcome);

// Copies as XCOPY does with the request's switches:
// - a file source lands in the destination folder under its own name;
// - a folder source gives its files (with /e its whole tree, empty folders included) to the
//   destination folder; the source folder's own name does not appear there;
// - the destination folder and every folder above it are created when missing;
// - each file is written as an unnamed file in its destination folder (O_TMPFILE; under a
//   temporary name where the file system has none) and takes its real name only when complete
//   (and, with /v, verified), so no destination file is ever left half-written; modification
//   time and permission bits come from the source;
// - without /y an existing destination file is not replaced: nobody could answer XCOPY's
//   question in a hidden window, so the run fails instead of waiting for an answer.
// The first failing file or folder ends the run (CopyFailed); what was copied before stays.
XcopyOutcome RunXcopy(const XcopyRequest& request);

}  // namespace xcopy

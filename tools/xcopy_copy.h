// The copying half of the XCOPY stand-in: carries out one read XcopyRequest on the host's file
// system and reports the outcome that decides the exit code.
#pragma once

#include <string>
#include <string_view>

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

// The name under which a copy of the file called name exists for a moment in the destination
// folder: "." + name + ".lumvar-cmd.tmp"; for a name too long for that, its first 222 bytes, "~"
// and 16 hexadecimal digits of a hash of the whole name instead of name.
std::string CopyTemporaryName(std::string_view name);

// Copies as XCOPY does with the request's switches:
// - a file source lands in the destination folder under its own name;
// - a folder source gives its files (with /e its whole tree, empty folders included) to the
//   destination folder; the source folder's own name does not appear there;
// - the destination folder and every folder above it are created when missing;
// - each file is written as an unnamed file in its destination folder (O_TMPFILE; under its
//   temporary name, CopyTemporaryName, where the file system has none or the file cannot be
//   linked) and takes its real name only when complete (and, with /v, verified), so no
//   destination file is ever left half-written; an existing file is replaced by linking the new
//   one under the temporary name and renaming it over the old one; modification time and
//   permission bits come from the source;
// - each copy of a file first removes its temporary name, which only a copy of the same file
//   that was killed can have left (concurrent copies of one file are not supported);
// - without /y an existing destination file is not replaced: nobody could answer XCOPY's
//   question in a hidden window, so the run fails instead of waiting for an answer.
// The first failing file or folder ends the run (CopyFailed); what was copied before stays.
XcopyOutcome RunXcopy(const XcopyRequest& request);

}  // namespace xcopy

// Reading the parameter strings that the tool hands to the command interpreter, such as
//   /c XCOPY "C:\Suite\Common\CommonConfig.xml" "C:\ProgramData\Lumvar\" /i /v /y
// into what to copy where. Only this XCOPY form is understood; nothing is expanded or run.
#pragma once

#include <string>
#include <string_view>

namespace xcopy {

// One XCOPY run: paths in the host's form (UTF-8, every backslash turned into "/").
struct XcopyRequest {
    std::string source;
    std::string destination;
    bool subfolders = false;    // /e: the whole tree, empty folders included
    bool createFolder = false;  // /i: a missing destination is a folder
    bool verify = false;        // /v: compare each written file with its source
    bool overwrite = false;     // /y: replace existing files without asking
};

// Why a parameter string was refused; Ok when it was read.
enum class ParamsStatus {
    Ok,
    MissingCommandSwitch,  // does not begin with /c
    NotXcopy,              // the command is not XCOPY
    BadSource,             // no quoted source, or it is not closed
    EmptySource,
    BadDestination,  // no quoted destination, or it is not closed
    EmptyDestination,
    UnknownSwitch,  // a switch other than /e /i /v /y
    ExtraText,      // words that are neither paths nor switches
};

// Reads a parameter string given as UTF-8 bytes. On Ok, request holds the run; otherwise request
// is left as it was. Letter case of /c, XCOPY and the switches, and the number of blanks or tabs
// between the parts, do not matter. Inside the quotes every character is taken as it stands.
ParamsStatus ParseXcopyParameters(std::string_view parameters, XcopyRequest& request);

// The same for a parameter string held as UTF-16, the tool's own form.
ParamsStatus ParseXcopyParameters(std::u16string_view parameters, XcopyRequest& request);

}  // namespace xcopy

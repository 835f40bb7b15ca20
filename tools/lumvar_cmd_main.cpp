// lumvar-cmd: the command interpreter of the POSIX build. The tool starts it with one argument,
// the parameter string it would give cmd.exe on Windows ("/c XCOPY \"source\" \"destination\\\"
// /i /v /y"), and judges the copy by the exit code, as XCOPY's: 0 copied, 4 source not found or
// parameters it cannot read, 5 a read, write or verification error. It prints nothing, reads
// nothing from its input, and never runs or expands anything found in the parameters.
#include "tools/xcopy_copy.h"
#include "tools/xcopy_params.h"

int main(int argc, char** argv) {
    constexpr int kUnreadable = 4;
    if (argc != 2)
        return kUnreadable;
    xcopy::XcopyRequest request;
    if (xcopy::ParseXcopyParameters(std::string_view(argv[1]), request) != xcopy::ParamsStatus::Ok) {
        return kUnreadable;
    }
    return xcopy::ExitCodeOf(xcopy::RunXcopy(request));
}

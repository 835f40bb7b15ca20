// The run report: an account of one run for the author of the installer that started the tool,
// who otherwise has only the exit code. It is strictly opt-in: only when the environment variable
// LUMVAR_LOG names a file does a run append to it, as UTF-8 text,
//
//   a header line:  UTC time, tool version, the verb and the arguments as given;
//   one line a step: name | parameter string or file | exit code or error text | duration | result;
//   a last line:    the exit code.
//
// Each line is written whole and handed to the system as its step ends, so a run that is killed
// leaves what it did. No values of the user's settings go into it: the merge names the elements
// and attributes it carried over, never their contents. Without the variable no file is opened
// and every call here returns at once. A report that cannot be opened or written is dropped
// without a word; it never changes a step's result or the exit code.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace run_report {

// The environment variable that names the report file.
inline constexpr char16_t kVariable[] = u"LUMVAR_LOG";

// The report of one run, held by the driver from before the verb is looked at until the exit
// code is known. Only one is open at a time; the steps below write into it.
class CRunReport {
public:
    // Opens the file that LUMVAR_LOG names, if any, and writes the header line. arguments as the
    // tool received them, argument 0 (the program's path) included.
    explicit CRunReport(const std::vector<std::u16string>& arguments);
    ~CRunReport();
    CRunReport(const CRunReport&) = delete;
    CRunReport& operator=(const CRunReport&) = delete;

    // Writes the last line with the exit code.
    void Finish(int exitCode);
};

// One step of a job, from its construction until End. A step that starts while another is under
// way (a copy of one file within SaveFumiFiles) is written indented, before the enclosing step.
class CStepReport {
public:
    // name: the step's operation ("RestoreEobdIni"); subject: the file or folder it works on,
    // replaced in the line by the parameter string when the step runs the interpreter.
    CStepReport(std::u16string_view name, std::u16string_view subject);
    ~CStepReport();
    CStepReport(const CStepReport&) = delete;
    CStepReport& operator=(const CStepReport&) = delete;

    // Writes the step's line and gives back result unchanged.
    bool End(bool result);

private:
    friend void NoteCommand(std::u16string_view, bool, std::uint32_t);
    friend void NoteOutcome(std::u16string_view);
    friend void NoteCarried(std::u16string_view, std::span<const char16_t* const>, bool);

    bool active_ = false;
    bool ended_ = false;
    int depth_ = 0;
    CStepReport* enclosing_ = nullptr;
    std::chrono::steady_clock::time_point start_{};
    std::u16string name_;
    std::u16string subject_;
    std::u16string outcome_;
    std::u16string carried_;
    bool carriedAny_ = false;
    int innerSteps_ = 0;
    int innerFailures_ = 0;
};

// The copy step ran the interpreter with these parameters (started false: it could not be run).
void NoteCommand(std::u16string_view parameters, bool started, std::uint32_t exitCode);

// What the step under way did or why it failed: a system error text, a document's message.
void NoteOutcome(std::u16string_view text);

// The merge carried these attributes (and the text, when text is true) of the element at path
// ("language", "customerInfo/stato") from the saved document into the live one.
void NoteCarried(std::u16string_view path, std::span<const char16_t* const> attributes, bool text);

}  // namespace run_report

#include "jobs/run_report.h"

#include <string>

#include "platform/platform.h"
#include "platform/text.h"

#ifndef LUMVAR_VERSION
#error "LUMVAR_VERSION must name the tool's version"
#endif

namespace run_report {

namespace {

// The open report of this run, and the innermost step under way.
platform::AppendFile reportFile = platform::kNoAppendFile;
CStepReport* currentStep = nullptr;

bool Open() {
    return reportFile != platform::kNoAppendFile;
}

// Appends one line; a failure is ignored, the run goes on as without a report.
void WriteLine(std::u16string_view line) {
    std::string bytes = platform::ToUtf8(line);
    bytes.push_back('\n');
    platform::AppendToFile(reportFile, bytes);
}

// Text as one field of a line: control characters (a line break in an argument, say) become
// U+FFFD, so that every entry stays on its own line.
std::u16string Field(std::u16string_view text) {
    std::u16string field(text);
    for (char16_t& unit : field) {
        if (unit < 0x20 || unit == 0x7F)
            unit = u'\uFFFD';
    }
    return field;
}

std::u16string Number(long long value) {
    return platform::FromUtf8(std::to_string(value));
}

std::u16string TwoDigits(unsigned value) {
    return std::u16string{static_cast<char16_t>(u'0' + value / 10 % 10),
                          static_cast<char16_t>(u'0' + value % 10)};
}

// The current time as "2026-03-14T09:26:53Z".
std::u16string UtcTimestamp() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    return Number(static_cast<int>(date.year())) + u"-" + TwoDigits(static_cast<unsigned>(date.month())) +
           u"-" + TwoDigits(static_cast<unsigned>(date.day())) + u"T" +
           TwoDigits(static_cast<unsigned>(time.hours().count())) + u":" +
           TwoDigits(static_cast<unsigned>(time.minutes().count())) + u":" +
           TwoDigits(static_cast<unsigned>(time.seconds().count())) + u"Z";
}

void Append(std::u16string& text, std::u16string_view more) {
    if (!text.empty())
        text.append(u"; ");
    text.append(more);
}

}  // namespace

CRunReport::CRunReport(const std::vector<std::u16string>& arguments) {
    std::u16string path;
    if (Open() || !platform::EnvironmentValue(kVariable, path) || path.empty())
        return;
    reportFile = platform::OpenAppendFile(path);
    if (!Open())
        return;
    std::u16string header = UtcTimestamp() + u" lumvar " + platform::FromUtf8(LUMVAR_VERSION);
    for (std::size_t i = 1; i < arguments.size(); ++i)
        header += u" \"" + Field(arguments[i]) + u"\"";
    WriteLine(header);
}

CRunReport::~CRunReport() {
    platform::CloseAppendFile(reportFile);
    reportFile = platform::kNoAppendFile;
    currentStep = nullptr;
}

void CRunReport::Finish(int exitCode) {
    if (Open())
        WriteLine(u"exit code " + Number(exitCode));
}

CStepReport::CStepReport(std::u16string_view name, std::u16string_view subject) {
    if (!Open())
        return;
    active_ = true;
    enclosing_ = currentStep;
    depth_ = enclosing_ == nullptr ? 0 : enclosing_->depth_ + 1;
    name_ = name;
    subject_ = subject;
    currentStep = this;
    start_ = std::chrono::steady_clock::now();
}

CStepReport::~CStepReport() {
    if (active_ && currentStep == this)
        currentStep = enclosing_;
}

bool CStepReport::End(bool result) {
    if (!active_ || ended_ || !Open())
        return result;
    ended_ = true;
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    std::u16string outcome = outcome_;
    if (carriedAny_)
        Append(outcome, u"carried " + carried_);
    if (innerSteps_ > 0)
        Append(outcome, Number(innerSteps_) + u" copies, " + Number(innerFailures_) + u" failed");
    if (outcome.empty()) {
        // A copy step that ran nothing: a missing source is skipped, anything else was refused
        // before a command could be built.
        outcome = result ? u"nothing to copy" : u"refused before any copy started";
    }
    WriteLine(std::u16string(2 * static_cast<std::size_t>(depth_), u' ') + name_ + u" | " + Field(subject_) +
              u" | " + Field(outcome) + u" | " + Number(took.count()) + u" ms | " +
              (result ? u"succeeded" : u"failed"));
    if (enclosing_ != nullptr) {
        ++enclosing_->innerSteps_;
        enclosing_->innerFailures_ += result ? 0 : 1;
    }
    currentStep = enclosing_;
    return result;
}

void NoteCommand(std::u16string_view parameters, bool started, std::uint32_t exitCode) {
    if (currentStep == nullptr)
        return;
    currentStep->subject_ = parameters;
    Append(currentStep->outcome_,
           started ? u"exit code " + Number(exitCode) : u"the command interpreter could not be started");
}

void NoteOutcome(std::u16string_view text) {
    if (currentStep != nullptr)
        Append(currentStep->outcome_, text);
}

void NoteCarried(std::u16string_view path, std::span<const char16_t* const> attributes, bool text) {
    if (currentStep == nullptr || (attributes.empty() && !text))
        return;
    std::u16string& carried = currentStep->carried_;
    if (currentStep->carriedAny_)
        carried.append(u", ");
    currentStep->carriedAny_ = true;
    carried.append(path);
    carried.push_back(u'[');
    bool first = true;
    for (const char16_t* attribute : attributes) {
        carried.append(first ? u"" : u",");
        carried.append(attribute);
        first = false;
    }
    if (text)
        carried.append(first ? u"text" : u",text");
    carried.push_back(u']');
}

}  // namespace run_report

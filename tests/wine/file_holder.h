// A file held open without sharing by another Windows process, the way an editor or a running
// module of the suite may hold a settings file while the tool runs. The holder is the probe's
// "hold" mode, run under Wine in the given prefix: sharing modes are enforced by the prefix's wine
// server, so only programs of the same prefix see the file as held.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/text.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/wine_session.h"

namespace wine {

class HeldFile {
public:
    // Starts the holder and waits until it holds the file. held() is false when it could not open
    // the file or did not report within the time limit.
    HeldFile(const std::filesystem::path& file, int prefix) : prefix_(prefix) {
        const std::u16string path = DrivePath(file);
        const std::u16string ready = DrivePath(signals_ / "ready");
        const std::u16string stop = DrivePath(signals_ / "stop");
        // The holder lets go by itself after kHoldSeconds, so that a test that fails half-way
        // never leaves it running; Run's own limit is a second line of defence.
        holder_ = std::thread([this, path, ready, stop] {
            exitCode_ = Run(MingwBinFolder() / "lumvar-platform-probe.exe",
                            {u"hold", path, ready, stop, platform::FromUtf8(std::to_string(kHoldSeconds))},
                            &output_, std::chrono::seconds(kHoldSeconds + 30), prefix_);
            finished_ = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kHoldSeconds);
        while (!std::filesystem::exists(signals_ / "ready") && !finished_ &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        held_ = std::filesystem::exists(signals_ / "ready") && !finished_;
    }

    ~HeldFile() { Release(); }

    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool held() const { return held_; }

    // Tells the holder to close the file and waits for it to end. The holder's exit code: 0 when
    // it held the file until told to let go.
    int Release() {
        if (holder_.joinable()) {
            testing_support::WriteFile(signals_ / "stop", "");
            holder_.join();
        }
        return exitCode_;
    }

    // The holder's Windows process id in 8 hex digits, once it holds the file.
    std::string processId() const { return testing_support::ReadFile(signals_ / "ready"); }

    // What the holder printed: "held", or "failed <error code>".
    const std::string& output() const { return output_; }

private:
    static constexpr int kHoldSeconds = 60;

    int prefix_;
    testing_support::TempFolder signals_;
    std::thread holder_;
    std::string output_;
    int exitCode_ = -1;
    std::atomic<bool> finished_{false};
    bool held_ = false;
};

}  // namespace wine

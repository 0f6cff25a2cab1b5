// Packages built by the real builder into a host sandbox, and a stand-in for
// the wizard that answers the engine's messages (its question for a file
// with the wizard's own answering).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <mutex>
#include <random>

#include "app/setup_state.h"
#include "engine/install_worker.h"
#include "host_sandbox.h"
#include "wizard/media_prompt_text.h"
#include "package_builder.h"

namespace cabsetup::testing {

struct WizardStandIn {
    std::mutex mutex;
    std::vector<unsigned> codes;             // every code posted or sent, in order
    std::vector<std::int32_t> positions;     // the position shown at each progress message
    std::vector<std::string> texts;          // the status text at each progress message
    std::vector<std::pair<std::string, std::string>> questions;  // media requests: path, name
    std::deque<std::string> answers;         // answers to give; "" cancels
    std::string failedText;                  // the text when NOTIFY_FAILED arrived
};

class EngineTest : public HostSandbox {
protected:
    EngineTest() {
        state_.sourceDir = "C:\\pkg";
        state_.folders.targetDir = "C:\\Program Files\\Tool";
        state_.folders.workBaseDir = "C:\\WINDOWS\\temp";
        state_.folders.tempDir = state_.folders.workBaseDir;
        status_.hwnd = 0x1234;
        host_.SetNotifySink([this](WindowHandle, unsigned code, bool) { OnNotify(code); });
        // Each reading of the clock is the progress interval after the one
        // before, so every change reaches the wizard; tests of the rate set
        // a clock of their own.
        host_.SetClock([this] { return clockMs_ += ProgressThrottle::kIntervalMs; });
        InstallEngine::SetSystemUnpackerOnly(SystemPathRun());
    }
    ~EngineTest() override { InstallEngine::SetSystemUnpackerOnly(false); }

    // The whole suite runs a second time with every cabinet going through
    // the workspace to the system's cabinet interface.
    static bool SystemPathRun() { return std::getenv("CABSETUP_SYSTEM_UNPACKER") != nullptr; }
    // For a case that breaks a step only that path has.
    static void UseSystemPath() { InstallEngine::SetSystemUnpackerOnly(true); }

    void OnNotify(unsigned code) {
        std::lock_guard lock(wizard_.mutex);
        wizard_.codes.push_back(code);
        if (code == NOTIFY_PROGRESS) {
            wizard_.positions.push_back(status_.Position());
            wizard_.texts.push_back(status_.Text());
            status_.progressPending = false;
        } else if (code == NOTIFY_FAILED) {
            wizard_.failedText = status_.Text();
        } else if (code == NOTIFY_ASK_MEDIA) {
            wizard_.questions.emplace_back(status_.Text(), status_.Detail());
            std::string answer = wizard_.answers.empty() ? "" : wizard_.answers.front();
            if (!wizard_.answers.empty()) wizard_.answers.pop_front();
            AnswerMediaRequest(status_, !answer.empty(), answer);
        }
    }

    // A payload file of `size` bytes under the sandbox's source folder.
    std::filesystem::path Payload(const std::string& name, std::size_t size, unsigned seed = 1) {
        std::filesystem::path p = root_ / "src" / name;
        std::filesystem::create_directories(p.parent_path());
        std::mt19937 gen(seed + static_cast<unsigned>(size));
        std::string data(size, '\0');
        for (char& c : data) c = static_cast<char>('a' + gen() % 7);
        std::ofstream(p, std::ios::binary) << data;
        return p;
    }

    // Builds the manifest's package into C:\<folder> (sibling volumes in C:\).
    void Build(mksetup::Manifest& m, const std::string& folder = "pkg") {
        m.script.header.setupKind = kSetupKindFull;
        m.script.header.uninstallKey = "Tool";
        mksetup::BuildOptions options;
        options.outDir = root_ / "C" / folder;
        options.clean = true;
        mksetup::BuildResult result;
        std::string error;
        ASSERT_TRUE(mksetup::BuildPackage(m, options, result, error)) << error;
        volumes_ = result.volumes;
    }

    mksetup::PackageFile File(const std::filesystem::path& source, const std::string& target,
                              std::uint8_t mode = ReplaceIfSizeDiffers) {
        return {source, target, mode, 0};
    }

    // Runs the worker to its end.
    void Install() {
        InstallEngine engine(os_, state_);
        // A refused start (a sweep's fault point) reports itself as failed.
        if (engine.StartInstallWorker(&status_, &log_)) engine.Join();
        EXPECT_FALSE(engine.WorkerRunning());
    }

    unsigned LastCode() {
        std::lock_guard lock(wizard_.mutex);
        return wizard_.codes.empty() ? 0 : wizard_.codes.back();
    }
    bool WorkspaceGone() {
        std::error_code ec;
        auto dir = root_ / "C" / "WINDOWS" / "temp";
        return !std::filesystem::exists(dir, ec) || std::filesystem::is_empty(dir, ec);
    }

    std::atomic<std::uint32_t> clockMs_{0};
    SetupState state_;
    InstallStatus status_;
    CInstallLog log_;
    WizardStandIn wizard_;
    std::vector<std::filesystem::path> volumes_;
};

}  // namespace cabsetup::testing

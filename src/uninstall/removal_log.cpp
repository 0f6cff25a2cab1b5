#include "uninstall/removal_log.h"

#include "runlog/run_log.h"

namespace cabsetup {

namespace {

const char* RootName(RegRoot root) {
    switch (root) {
    case RegRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case RegRoot::CurrentUser: return "HKEY_CURRENT_USER";
    case RegRoot::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case RegRoot::Users: return "HKEY_USERS";
    case RegRoot::PerformanceData: return "HKEY_PERFORMANCE_DATA";
    case RegRoot::CurrentConfig: return "HKEY_CURRENT_CONFIG";
    case RegRoot::DynData: return "HKEY_DYN_DATA";
    }
    return "?";
}

std::string Describe(const RemovalStep& step) {
    switch (step.kind) {
    case RemovalKind::File: return "file " + step.path;
    case RemovalKind::Folder: return "folder " + step.path;
    case RemovalKind::Value:
        return std::string("registry value ") + RootName(step.root) + "\\" + step.subkey + "\\" + step.value;
    case RemovalKind::Key: return std::string("registry key ") + RootName(step.root) + "\\" + step.subkey;
    }
    return {};
}

}  // namespace

const char* PathVerdictText(PathVerdict verdict) {
    switch (verdict) {
    case PathVerdict::Plain: return "a plain path";
    case PathVerdict::NotAFullPath: return "not a full path";
    case PathVerdict::SystemPrefix: return "a system prefix (\\\\?\\ and its kin)";
    case PathVerdict::NetworkPath: return "a network path";
    case PathVerdict::DeviceName: return "a device name";
    case PathVerdict::Stream: return "a data stream";
    case PathVerdict::BadName: return "wildcards, control characters or a name of dots";
    }
    return "?";
}

void LogRemovalPlan(const RemovalPlan& plan) {
    if (!RunLogOn()) return;
    for (const RemovalStep& step : plan.steps)
        LogLine("remove " + Describe(step) + (step.registration ? " (the registration: last)" : ""));
    for (const SkippedLine& s : plan.skipped) {
        std::string why = SkipReasonText(s.reason);
        if (s.reason == SkipReason::UntrustedPath) why += std::string(": ") + PathVerdictText(s.verdict);
        LogLine("skipped line \"" + s.line + "\": " + why);
    }
    if (plan.unchecked) LogLine("lines that could not be proven (a lookup failed): " + std::to_string(plan.unchecked));
}

void LogRemovalOutcome(const RemovalOutcome& outcome) {
    if (!RunLogOn()) return;
    for (const std::string& path : outcome.refused)
        LogLine("refused at the moment of removal: " + path + ": reached through a link or junction");
    LogLine("removal: " + std::to_string(outcome.removed) + " removed, " + std::to_string(outcome.scheduled) +
            " left for the next start, " + std::to_string(outcome.failed) + " failed");
}

}  // namespace cabsetup

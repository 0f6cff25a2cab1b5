#include "actions/registry_action.h"

#include <cstring>

#include "app/folders.h"
#include "app/paths.h"
#include "runlog/run_log.h"

namespace cabsetup {

bool RootKeyByName(const std::string& name, RegRoot& root) {
    static const struct {
        const char* name;
        RegRoot root;
    } kRoots[] = {
        {"HKEY_CURRENT_USER", RegRoot::CurrentUser},     {"HKEY_LOCAL_MACHINE", RegRoot::LocalMachine},
        {"HKEY_CURRENT_CONFIG", RegRoot::CurrentConfig}, {"HKEY_CLASSES_ROOT", RegRoot::ClassesRoot},
        {"HKEY_USERS", RegRoot::Users},                  {"HKEY_PERFORMANCE_DATA", RegRoot::PerformanceData},
        {"HKEY_DYN_DATA", RegRoot::DynData},
    };
    for (const auto& r : kRoots)
        if (name == r.name) {
            root = r.root;
            return true;
        }
    return false;
}

bool WriteRegistryRecord(const ActionContext& context, const RegistryRecord& record, int logExistingKey) {
    Os& os = context.os;
    std::string rootName = FirstComponent(os.Mbcs(), record.keyPath);
    RegRoot root;
    if (rootName.empty() || !RootKeyByName(rootName, root)) {
        LogFailure("writing a registry value", record.keyPath, 0, "no such root key");
        return false;
    }
    std::string subkey = record.keyPath.substr(rootName.size() + 1);

    Os::HandlePtr key = os.RegOpenKey(root, subkey, kKeyAllAccess);
    bool logKey = key && logExistingKey != 0;
    // A key that is there but could not be opened is not ours to claim.
    if (!key && !ProvenAbsent(os)) {
        LogFailure("opening the registry key", record.keyPath, os.LastError());
        return false;
    }
    if (!key) {
        key = os.RegCreateKey(root, subkey);
        if (!key) {
            LogFailure("creating the registry key", record.keyPath, os.LastError());
            return false;
        }
        logKey = true;
    }
    // The key's own line: the value name is empty, so the line ends in a backslash.
    if (logKey) context.log.AddRegistry(record.keyPath, std::string());

    bool written;
    std::string shown;  // the value as the run log shows it
    if (record.valueType == 1) {
        written = os.RegSetValue(*key, record.valueName, kRegDword, record.valueData.data(), 4);
        shown = "REG_DWORD " + std::to_string(record.Number());
    } else if (record.valueType == 2) {
        std::string text = record.Text();
        ExpandPlaceholders(os.Mbcs(), context.state, text, kExpandAllUsers);
        written = os.RegSetValue(*key, record.valueName, kRegSz, text.c_str(), text.size() + 1);
        shown = "REG_SZ \"" + text + "\"";
    } else {
        LogFailure("writing a registry value", record.keyPath + "\\" + record.valueName, 0,
                   "unknown value type " + std::to_string(record.valueType));
        return false;
    }
    if (!written) LogFailure("writing a registry value", record.keyPath + "\\" + record.valueName, os.LastError());
    else LogLine("registry " + record.keyPath + "\\" + (record.valueName.empty() ? "(default)" : record.valueName) + " = " + shown);
    // Logged either way (the uninstaller skips what is not there), but a
    // value the system refused fails the step: the package asked for it.
    context.log.AddRegistry(record.keyPath, record.valueName);
    return written;
}

}  // namespace cabsetup

#include "app/single_instance.h"

#include "platform/sha256.h"

namespace cabsetup {

namespace {
constexpr char kGlobalPrefix[] = "Global\\";
}

std::string InstanceMutexName(const CodePage& cp, const std::string& uninstallKey) {
    return std::string(kGlobalPrefix) + "cabsetup-" + Sha256Hex(cp.Lowered(uninstallKey));
}

bool HoldInstanceLock(Os& os, const std::string& uninstallKey, Os::HandlePtr& lock) {
    const std::string name = InstanceMutexName(os.Mbcs(), uninstallKey);
    bool existed = false;
    lock = os.CreateNamedMutex(name, existed);
    // Systems before terminal services know no "Global\" and refuse the name.
    if (!lock) lock = os.CreateNamedMutex(name.substr(sizeof kGlobalPrefix - 1), existed);
    if (existed) lock.reset();
    return !existed;
}

}  // namespace cabsetup

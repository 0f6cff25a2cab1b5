#include "wizard/page_flow.h"

#include "formats/setup_script.h"

namespace cabsetup {

int NextPage(int page, std::int32_t setupKind, bool unattended) {
    if (unattended && page == kPageWelcome) return kPageCopying;
    if (setupKind == kSetupKindFull) return page + 1;
    if (setupKind == kSetupKindUpdate) return page == kPageWelcome ? kPageCopying : page + 1;
    return page;  // a kind the wizard does not know stays on its page
}

unsigned PageHeadingId(int page, std::int32_t setupKind) {
    switch (page) {
    case kPageWelcome: return setupKind == kSetupKindFull ? 6042 : setupKind == kSetupKindUpdate ? 6045 : 0;
    case kPageLicense: return 6037;
    case kPageFolder: return 6038;
    case kPageCopying: return 6039;
    case kPageFinish: return 6040;
    }
    return 0;
}

unsigned PageDescriptionId(int page) {
    static const unsigned kIds[kPageCount] = {0, 6002, 6003, 6004, 6005};
    return page >= 0 && page < kPageCount ? kIds[page] : 0;
}

}  // namespace cabsetup

// Any bytes as setup.inf / Data.inf: never a crash, never a read past the
// buffer, and whatever loads writes back to the same records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/setup_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Copied so that ASan sees the exact end of the input.
    std::vector<unsigned char> bytes(data, data + size);
    cabsetup::ScriptHalf script;
    if (!cabsetup::ParseScript(bytes.data(), bytes.size(), script)) return 0;

    std::vector<unsigned char> written;
    // Texts that fill their field without a zero end are the only ones the
    // writer may refuse; everything else must survive the round trip.
    if (!cabsetup::WriteScript(script, written)) return 0;
    cabsetup::ScriptHalf again;
    if (!cabsetup::ParseScript(written.data(), written.size(), again)) std::abort();
    if (again.header.modelName != script.header.modelName || again.registry.size() != script.registry.size() ||
        again.shortcuts.size() != script.shortcuts.size() || again.programs.size() != script.programs.size())
        std::abort();
    return 0;
}

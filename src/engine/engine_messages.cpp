#include "engine/engine_messages.h"

#include "app/message_text.h"

namespace cabsetup {

std::string StatusText(Os& os, unsigned id, const std::string& msg1, const std::string& msg2) {
    const CodePage& cp = os.Mbcs();
    std::string text = os.LoadString(id);
    ReplaceEvery(cp, text, "*msg1*", msg1);
    ReplaceEvery(cp, text, "*msg2*", msg2);
    return CutToStatusField(cp, std::move(text));
}

std::string CutToStatusField(const CodePage& cp, std::string text) {
    if (text.size() < kStatusFieldSize) return text;
    // Never split a double-byte character.
    std::size_t cut = 0;
    for (std::size_t i = 0; i < text.size(); i += cp.CharLength(text, i)) {
        if (i + cp.CharLength(text, i) > kStatusFieldSize - 1) break;
        cut = i + cp.CharLength(text, i);
    }
    text.resize(cut);
    return text;
}

std::int32_t ProgressPosition(ProgressKind kind, std::uint32_t n, const VolumeHeader& h, std::int32_t current) {
    switch (kind) {
    case ProgressKind::Start: return 0;
    case ProgressKind::Finish: return 900;
    case ProgressKind::PerCabinet: break;
    default: return current;
    }
    std::uint32_t c = h.cabinetCount;
    if (c == 0) return current;
    // 64-bit products: a set of millions of cabinets must not wrap around.
    std::uint64_t done = n;
    if (h.label.empty()) return static_cast<std::int32_t>(done * 900 / c);
    if (h.setType == kSetTypeMain) return static_cast<std::int32_t>(done * 650 / c);
    return static_cast<std::int32_t>(650 + done * 250 / c);
}

}  // namespace cabsetup

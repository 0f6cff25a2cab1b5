#include "engine/set_aside.h"

#include "app/run_outcome.h"
#include "platform/path_text.h"

namespace cabsetup {

namespace {

constexpr std::size_t kMostDigits = 16, kFewestDigits = 8;

}  // namespace

std::string NameBeside(const CodePage& cp, const std::string& destination, const char* suffix, char lead) {
    std::string suffixed = destination + suffix;
    if (suffixed.size() < kMaxPath) return suffixed;
    std::string folded = destination;
    cp.ToLower(folded);
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits, of the whole path
    for (unsigned char c : folded) hash = (hash ^ c) * 1099511628211ull;
    std::string folder = ParentFolder(cp, destination);
    std::size_t used = folder.size() + 2;  // the backslash and the lead
    if (used + kFewestDigits >= kMaxPath) return {};
    std::size_t digits = std::min(kMostDigits, kMaxPath - 1 - used);
    static const char kHex[] = "0123456789abcdef";
    std::string name = folder + "\\" + lead;
    for (std::size_t i = 0; i < digits; ++i) name += kHex[(hash >> (60 - 4 * i)) & 0xF];
    return name;
}

SetAside::SetAside(Os& os, std::string destination)
    : os_(os), destination_(std::move(destination)), aside_(NameBeside(os.Mbcs(), destination_, ".cabsetup-old", '~')) {}

void SetAside::RecoverLeftover() {
    std::uint32_t attributes = 0;
    if (!HasRoom() || !os_.GetAttributes(aside_, attributes) || (attributes & kAttrDirectory)) return;
    std::uint32_t standing = 0;
    if (os_.GetAttributes(destination_, standing)) {
        if (standing & kAttrDirectory) return;
        os_.SetAttributes(destination_, standing & ~kAttrReadOnly);
        os_.DeleteFile(destination_);
    }
    if (os_.MoveFile(aside_, destination_)) os_.SetAttributes(destination_, attributes & ~kAttrHidden);
}

bool SetAside::Move() {
    if (!HasRoom()) return false;
    os_.GetAttributes(destination_, attributes_);
    if (!os_.MoveFile(destination_, aside_)) return false;
    os_.SetAttributes(aside_, attributes_ | kAttrHidden);
    moved_ = true;
    return true;
}

void SetAside::Restore() {
    if (!moved_) return;
    os_.DeleteFile(destination_);
    if (os_.MoveFile(aside_, destination_)) os_.SetAttributes(destination_, attributes_ & ~kAttrDirectory);
    moved_ = false;
}

void SetAside::Discard() {
    if (!moved_) return;
    moved_ = false;
    // No longer read-only, so that it can go, and still hidden if it cannot.
    os_.SetAttributes(aside_, kAttrHidden);
    // A refusal may pass (a scanner looking at the renamed file): one more try.
    if (os_.DeleteFile(aside_) || os_.DeleteFile(aside_)) return;
    // Something opened it since it was set aside. Under the old copy's name
    // the next run would take it for a crash's leftover and put it back over
    // the new file: it moves to a name no run restores from, where the
    // system can, and goes when the system next starts.
    std::string discarded = NameBeside(os_.Mbcs(), destination_, ".cabsetup-del", '%');
    if (!discarded.empty()) {
        os_.DeleteFile(discarded);  // one an earlier run left, when it can go now
        if (os_.MoveFile(aside_, discarded)) {
            if (os_.DeleteAtRestart(discarded)) NoteRemovalAtRestart();
            return;
        }
    }
    if (os_.DeleteAtRestart(aside_)) NoteRemovalAtRestart();
}

}  // namespace cabsetup

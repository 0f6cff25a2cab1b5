#include "engine/set_aside.h"

#include "platform/path_text.h"

namespace cabsetup {

std::string NameBeside(const CodePage& cp, const std::string& destination, const char* suffix, char lead) {
    std::string suffixed = destination + suffix;
    if (suffixed.size() < kMaxPath) return suffixed;
    std::uint32_t hash = 2166136261u;  // FNV-1a of the whole path
    for (unsigned char c : destination) hash = (hash ^ c) * 16777619u;
    static const char kHex[] = "0123456789abcdef";
    std::string name(1, lead);
    for (int shift = 28; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xF];
    std::string folder = ParentFolder(cp, destination);
    std::size_t room = destination.size() - folder.size() - 1;  // the file name's length
    if (name.size() > room) name.resize(room < 1 ? 1 : room);
    return folder + "\\" + name;
}

SetAside::SetAside(Os& os, std::string destination)
    : os_(os), destination_(std::move(destination)), aside_(NameBeside(os.Mbcs(), destination_, ".cabsetup-old", '~')) {}

void SetAside::RecoverLeftover() {
    std::uint32_t attributes = 0;
    if (!os_.GetAttributes(aside_, attributes) || (attributes & kAttrDirectory)) return;
    std::uint32_t standing = 0;
    if (os_.GetAttributes(destination_, standing)) {
        if (standing & kAttrDirectory) return;
        os_.SetAttributes(destination_, standing & ~kAttrReadOnly);
        os_.DeleteFile(destination_);
    }
    if (os_.MoveFile(aside_, destination_)) os_.SetAttributes(destination_, attributes & ~kAttrHidden);
}

bool SetAside::Move() {
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
    os_.SetAttributes(aside_, 0);
    os_.DeleteFile(aside_);
    moved_ = false;
}

}  // namespace cabsetup

#include "formats/setup_script.h"

#include <cstring>
#include <utility>

#include "formats/little_endian.h"
#include "platform/memory.h"

namespace cabsetup {

namespace {

// Far beyond any real package (80,000 registry records), and small enough to
// allocate on a 32-bit system.
constexpr std::uint64_t kMaxScriptBytes = 64u << 20;

Sha256::Digest DigestOfBytes(const unsigned char* data, std::size_t size) {
    Sha256 sha;
    sha.Update(data, size);
    return sha.Final();
}

struct TextField {
    std::string ScriptHeader::*member;
    std::size_t offset;
    const char* name;
};

// The header's interpreted text fields; the gaps between them are carried
// but not interpreted, and written as zero.
constexpr TextField kHeaderTexts[] = {
    {&ScriptHeader::companyName, 44, "companyName"},
    {&ScriptHeader::modelName, 300, "modelName"},
    {&ScriptHeader::modelVersion, 556, "modelVersion"},
    {&ScriptHeader::defaultTargetDir, 812, "defaultTargetDir"},
    {&ScriptHeader::mainModuleSource, 1068, "mainModuleSource"},
    {&ScriptHeader::mainModuleTarget, 1324, "mainModuleTarget"},
    {&ScriptHeader::windowTitle, 1580, "windowTitle"},
    {&ScriptHeader::displayName, 1836, "displayName"},
    {&ScriptHeader::uninstallKey, 2092, "uninstallKey"},
    {&ScriptHeader::versionFromVolume, 2860, "versionFromVolume"},
    {&ScriptHeader::requiredVersion, 3116, "requiredVersion"},
    {&ScriptHeader::finishOptions, 3372, "finishOptions"},
};

RegistryRecord ReadRegistry(const unsigned char* p) {
    RegistryRecord r;
    r.keyPath = le::Text(p + 132, kPathField);
    r.valueName = le::Text(p + 388, kShortField);
    r.valueType = le::I32(p + 516);
    std::memcpy(r.valueData.data(), p + 520, r.valueData.size());
    r.generatedFlag = p[776];
    return r;
}

ShortcutRecord ReadShortcut(const unsigned char* p) {
    ShortcutRecord s;
    s.name = le::Text(p + 4, kShortField);
    s.targetPath = le::Text(p + 132, kPathField);
    s.linkFolder = le::Text(p + 388, kPathField);
    s.iconPath = le::Text(p + 644, kPathField);
    s.iconIndex = le::I32(p + 900);
    return s;
}

ProgramRecord ReadProgram(const unsigned char* p) {
    ProgramRecord r;
    r.action = le::I32(p + 132);
    r.programPath = le::Text(p + 136, kPathField);
    r.arguments = le::Text(p + 392, kShortField);
    r.showCommand = le::U16(p + 520);
    r.waitForExit = p[524];
    return r;
}

template <typename Record, typename Reader>
const unsigned char* ReadArray(const unsigned char* p, std::uint32_t count, std::size_t width, Reader read,
                               std::vector<Record>& out) {
    out.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i, p += width) out.push_back(read(p));
    return p;
}

// Collects the first field that does not fit.
class FieldWriter {
public:
    explicit FieldWriter(std::string* error) : error_(error) {}
    void Text(unsigned char* p, std::size_t width, const std::string& text, const std::string& name) {
        if (le::PutText(p, width, text) || !ok_) return;
        ok_ = false;
        if (error_)
            *error_ = name + " is " + std::to_string(text.size()) + " bytes; the field holds at most " +
                      std::to_string(width - 1);
    }
    bool Ok() const { return ok_; }

private:
    std::string* error_;
    bool ok_ = true;
};

}  // namespace

std::uint32_t RegistryRecord::Number() const { return le::U32(valueData.data()); }
std::string RegistryRecord::Text() const { return le::Text(valueData.data(), valueData.size()); }
void RegistryRecord::SetNumber(std::uint32_t value) {
    valueData.fill(0);
    le::PutU32(valueData.data(), value);
}
bool RegistryRecord::SetText(const std::string& text) { return le::PutText(valueData.data(), valueData.size(), text); }

bool ParseScriptHeader(const unsigned char* data, std::size_t size, ScriptHeader& out) {
    out = {};
    if (size < kScriptHeaderSize) return false;
    if (le::U32(data) != kScriptMagic || le::U32(data + 4) != kScriptFormatVersion) return false;
    out.magic = kScriptMagic;
    out.formatVersion = kScriptFormatVersion;
    out.setupKind = le::I32(data + 8);
    out.registryCount = le::U32(data + 16);
    out.programCount = le::U32(data + 20);
    out.shortcutCount = le::U32(data + 24);
    for (const TextField& f : kHeaderTexts) out.*f.member = le::Text(data + f.offset, kPathField);
    return true;
}

// Bytes a script with this header's counts occupies; 64-bit so that no count
// can wrap it around.
static std::uint64_t ScriptSize(const ScriptHeader& h) {
    return kScriptHeaderSize + std::uint64_t(h.registryCount) * kRegistryRecordSize +
           std::uint64_t(h.shortcutCount) * kShortcutRecordSize + std::uint64_t(h.programCount) * kProgramRecordSize;
}

bool ParseScript(const unsigned char* data, std::size_t size, ScriptHalf& out) {
    out = {};
    ScriptHeader header;
    if (!ParseScriptHeader(data, size, header) || ScriptSize(header) > size) return false;
    const unsigned char* p = data + kScriptHeaderSize;
    p = ReadArray(p, header.registryCount, kRegistryRecordSize, ReadRegistry, out.registry);
    p = ReadArray(p, header.shortcutCount, kShortcutRecordSize, ReadShortcut, out.shortcuts);
    ReadArray(p, header.programCount, kProgramRecordSize, ReadProgram, out.programs);
    out.header = std::move(header);
    return true;
}

bool WriteScript(const ScriptHalf& script, std::vector<unsigned char>& out, std::string* error) {
    const ScriptHeader& h = script.header;
    out.assign(kScriptHeaderSize + script.registry.size() * kRegistryRecordSize +
                   script.shortcuts.size() * kShortcutRecordSize + script.programs.size() * kProgramRecordSize,
               0);
    FieldWriter w(error);
    unsigned char* p = out.data();
    le::PutU32(p, kScriptMagic);
    le::PutU32(p + 4, kScriptFormatVersion);
    le::PutU32(p + 8, static_cast<std::uint32_t>(h.setupKind));
    le::PutU32(p + 16, static_cast<std::uint32_t>(script.registry.size()));
    le::PutU32(p + 20, static_cast<std::uint32_t>(script.programs.size()));
    le::PutU32(p + 24, static_cast<std::uint32_t>(script.shortcuts.size()));
    for (const TextField& f : kHeaderTexts) w.Text(p + f.offset, kPathField, h.*f.member, f.name);
    p += kScriptHeaderSize;

    for (std::size_t i = 0; i < script.registry.size(); ++i, p += kRegistryRecordSize) {
        const RegistryRecord& r = script.registry[i];
        std::string at = "registry[" + std::to_string(i) + "].";
        w.Text(p + 132, kPathField, r.keyPath, at + "keyPath");
        w.Text(p + 388, kShortField, r.valueName, at + "valueName");
        le::PutU32(p + 516, static_cast<std::uint32_t>(r.valueType));
        std::memcpy(p + 520, r.valueData.data(), r.valueData.size());
        p[776] = r.generatedFlag;
    }
    for (std::size_t i = 0; i < script.shortcuts.size(); ++i, p += kShortcutRecordSize) {
        const ShortcutRecord& s = script.shortcuts[i];
        std::string at = "shortcut[" + std::to_string(i) + "].";
        w.Text(p + 4, kShortField, s.name, at + "name");
        w.Text(p + 132, kPathField, s.targetPath, at + "targetPath");
        w.Text(p + 388, kPathField, s.linkFolder, at + "linkFolder");
        w.Text(p + 644, kPathField, s.iconPath, at + "iconPath");
        le::PutU32(p + 900, static_cast<std::uint32_t>(s.iconIndex));
    }
    for (std::size_t i = 0; i < script.programs.size(); ++i, p += kProgramRecordSize) {
        const ProgramRecord& r = script.programs[i];
        std::string at = "program[" + std::to_string(i) + "].";
        le::PutU32(p + 132, static_cast<std::uint32_t>(r.action));
        w.Text(p + 136, kPathField, r.programPath, at + "programPath");
        w.Text(p + 392, kShortField, r.arguments, at + "arguments");
        le::PutU16(p + 520, r.showCommand);
        p[524] = r.waitForExit;
    }
    return w.Ok();
}

bool SetupScript::LoadScript(Os& os, bool first, const std::string& folder, const std::string& sourceDir,
                             bool* memoryRefused, const Sha256::Digest* expected, bool* changed) {
    if (memoryRefused) *memoryRefused = false;
    if (changed) *changed = false;
    ScriptHalf& half = first ? first_ : second_;
    half = {};
    Os::HandlePtr file = os.OpenRead(first ? sourceDir + "\\setup.inf" : folder + "\\Data.inf");
    if (!file) {
        // A file vouched for that is not there has been taken away.
        if (expected && changed) *changed = true;
        return false;
    }

    std::uint64_t fileSize = 0;
    unsigned char head[kScriptHeaderSize];
    std::size_t got = 0;
    ScriptHeader header;
    if (expected) {
        // The whole file, not only what its counts announce: a vouched file
        // has no bytes nobody looked at.
        if (!os.FileSize(*file, fileSize)) return false;
        std::unique_ptr<unsigned char[]> all;
        std::size_t size = static_cast<std::size_t>(fileSize);
        if (fileSize <= kMaxScriptBytes) all = TryAllocate<unsigned char>(size ? size : 1);
        if (fileSize <= kMaxScriptBytes && !all) {
            if (memoryRefused) *memoryRefused = true;
            return false;
        }
        if (!all || (size && (!os.Read(*file, all.get(), size, got) || got != size)) ||
            DigestOfBytes(all.get(), size) != *expected) {
            if (changed) *changed = true;
            return false;
        }
        return ParseScript(all.get(), size, half);
    }
    if (!os.FileSize(*file, fileSize) || !os.Read(*file, head, sizeof head, got) ||
        !ParseScriptHeader(head, got, header))
        return false;
    // Counts are checked against the file before anything is allocated, so a
    // hostile count can neither exhaust memory nor leave records unread.
    std::uint64_t total = ScriptSize(header);
    if (total > fileSize || total > kMaxScriptBytes) return false;

    // Its size is the package's: memory refused for it fails the loading.
    std::size_t size = static_cast<std::size_t>(total);
    std::unique_ptr<unsigned char[]> bytes = TryAllocate<unsigned char>(size);
    if (!bytes) {
        if (memoryRefused) *memoryRefused = true;
        return false;
    }
    std::memcpy(bytes.get(), head, sizeof head);
    std::size_t want = size - sizeof head;
    if (want && (!os.Read(*file, bytes.get() + sizeof head, want, got) || got != want)) return false;
    return ParseScript(bytes.get(), size, half);
}

}  // namespace cabsetup

// The binary setup script: setup.inf beside the program and Data.inf beside
// the linked data set. A 5164-byte header, then the registry, shortcut and
// program record arrays, with nothing in between and nothing after.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"
#include "platform/sha256.h"

namespace cabsetup {

constexpr std::uint32_t kScriptMagic = 0xCCDDEEF0;
constexpr std::uint32_t kScriptFormatVersion = 0x1100;
constexpr std::size_t kScriptHeaderSize = 5164;
constexpr std::size_t kRegistryRecordSize = 784;
constexpr std::size_t kShortcutRecordSize = 912;
constexpr std::size_t kProgramRecordSize = 532;
constexpr std::size_t kPathField = 256;
constexpr std::size_t kShortField = 128;

constexpr std::int32_t kSetupKindFull = 1;
constexpr std::int32_t kSetupKindUpdate = 3;

struct ScriptHeader {
    std::uint32_t magic = 0;
    std::uint32_t formatVersion = 0;
    std::int32_t setupKind = 0;
    std::uint32_t registryCount = 0;
    std::uint32_t programCount = 0;
    std::uint32_t shortcutCount = 0;
    std::string companyName, modelName, modelVersion, defaultTargetDir;
    std::string mainModuleSource, mainModuleTarget, windowTitle, displayName, uninstallKey;
    std::string versionFromVolume, requiredVersion, finishOptions;
};

struct RegistryRecord {
    std::string keyPath;    // root name, backslash, subkey
    std::string valueName;  // empty: the key's default value
    std::int32_t valueType = 0;  // 1 number, 2 text
    std::array<unsigned char, kPathField> valueData{};
    std::uint8_t generatedFlag = 0;

    std::uint32_t Number() const;
    std::string Text() const;
    void SetNumber(std::uint32_t value);
    bool SetText(const std::string& text);  // false when too long for the field
};

struct ShortcutRecord {
    std::string name, targetPath, linkFolder, iconPath;
    std::int32_t iconIndex = 0;
};

struct ProgramRecord {
    std::int32_t action = 0;  // 2: start the program
    std::string programPath, arguments;
    std::uint16_t showCommand = 0;
    std::uint8_t waitForExit = 0;
};

// One loaded script file.
struct ScriptHalf {
    ScriptHeader header;
    std::vector<RegistryRecord> registry;
    std::vector<ShortcutRecord> shortcuts;
    std::vector<ProgramRecord> programs;
};

// Parses a whole script file. False for a short file, a wrong magic or
// version, or counts that announce more records than the bytes hold; out is
// then cleared. Bytes after the last record are ignored.
bool ParseScript(const unsigned char* data, std::size_t size, ScriptHalf& out);

// Reads only the header; false as ParseScript for the header's part.
bool ParseScriptHeader(const unsigned char* data, std::size_t size, ScriptHeader& out);

// Serialises a script; the counts are taken from the arrays. False, with
// `error` naming the field, when a text does not fit its field.
bool WriteScript(const ScriptHalf& script, std::vector<unsigned char>& out, std::string* error = nullptr);

// The loaded setup.inf (first) and Data.inf (second) of one run.
class SetupScript {
public:
    const ScriptHalf& First() const { return first_; }
    const ScriptHalf& Second() const { return second_; }
    const std::string& VolumeVersion() const { return volumeVersion_; }
    void SetVolumeVersion(const std::string& v) { volumeVersion_ = v; }

    // first: sourceDir\setup.inf (folder unused); otherwise folder\Data.inf.
    // `memoryRefused` tells a script that is there but could not be held
    // in memory from one that is missing or invalid.
    // With `expected`, the whole file must have that SHA-256: a file that
    // differs sets *changed and loads nothing; what is parsed is exactly the
    // bytes that were hashed.
    bool LoadScript(Os& os, bool first, const std::string& folder, const std::string& sourceDir,
                    bool* memoryRefused = nullptr, const Sha256::Digest* expected = nullptr, bool* changed = nullptr);
    void SetFirst(ScriptHalf half) { first_ = std::move(half); }
    void SetSecond(ScriptHalf half) { second_ = std::move(half); }
    void ClearFirst() { first_ = {}; }
    void ClearSecond() { second_ = {}; }

private:
    ScriptHalf first_, second_;
    std::string volumeVersion_;
};

}  // namespace cabsetup

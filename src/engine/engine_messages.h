// The engine's status texts and progress positions.
#pragma once

#include <cstdint>
#include <string>

#include "engine/install_status.h"
#include "formats/volume_format.h"
#include "platform/os.h"

namespace cabsetup {

constexpr unsigned kIdsCantFindData = 6024;
constexpr unsigned kIdsInstalling = 6026;
constexpr unsigned kIdsAboutToComplete = 6028;
constexpr unsigned kIdsFolderCantBeCreated = 6033;
constexpr unsigned kIdsFileInUse = 6051;

enum class ProgressKind { Start = 1, PerCabinet = 2, Finish = 3 };

// String `id` with "*msg1*" and "*msg2*" replaced, cut at a character
// boundary to what the 256-byte status field holds.
std::string StatusText(Os& os, unsigned id, const std::string& msg1, const std::string& msg2 = std::string());

// Cuts a text at a character boundary to what a 256-byte status field holds.
std::string CutToStatusField(const CodePage& cp, std::string text);

// The bar is shared between the two data sets: the main set's cabinets fill
// 0-900 alone or 0-650 before a linked set, the linked set 650-900.
std::int32_t ProgressPosition(ProgressKind kind, std::uint32_t cabinetsDone, const VolumeHeader& header,
                              std::int32_t current);

}  // namespace cabsetup

// What the file prompt says: the drive and disk label derived from the path
// and file name the engine looked for.
#pragma once

#include <string>

#include "engine/install_status.h"
#include "platform/codepage.h"

namespace cabsetup {

struct MediaPromptText {
    std::string drive;  // before the first backslash, upper case
    std::string label;  // the file name without its extension; "1" after a final "a" or "m"
    bool floppy = false;  // A: or B:
    unsigned captionId = 0, promptId = 0;
};

MediaPromptText MediaPromptFor(const CodePage& cp, const std::string& path, const std::string& fileName);

// The prompt text with its markers filled (no placeholder expansion).
std::string FillMediaPrompt(const CodePage& cp, std::string prompt, const MediaPromptText& t,
                            const std::string& fileName);

// The wizard's answer to the engine's question for a file, as the engine
// reads it back: "TRUE" and the path the user gave, or "FALSE" (cancelled,
// or a path too long for its field).
void AnswerMediaRequest(InstallStatus& status, bool given, const std::string& path);
// Whether a path fits the 256-byte field that carries it to the engine,
// with its terminating zero. A longer one is refused whole, never cut: a
// cut names another path, and may end inside a double-byte character.
bool MediaAnswerFits(const std::string& path);

// "DAT file (*.dat)|*.dat||" as the file-open dialog takes it: NUL-separated,
// ending in two NULs.
std::string OpenFileFilter(const CodePage& cp, const std::string& barSeparated);

}  // namespace cabsetup

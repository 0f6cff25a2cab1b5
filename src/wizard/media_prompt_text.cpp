#include "wizard/media_prompt_text.h"

#include "app/message_text.h"

namespace cabsetup {

MediaPromptText MediaPromptFor(const CodePage& cp, const std::string& path, const std::string& fileName) {
    MediaPromptText t;
    std::size_t slash = cp.FindChar(path, '\\');
    t.drive = slash == std::string::npos ? std::string() : path.substr(0, slash);
    for (char& c : t.drive)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    t.label = fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
    if (!t.label.empty() && (t.label.back() == 'm' || t.label.back() == 'a')) t.label += '1';
    t.floppy = t.drive == "A:" || t.drive == "B:";
    t.captionId = t.floppy ? 6019 : 6018;
    t.promptId = t.floppy ? 6020 : 6017;
    return t;
}

std::string FillMediaPrompt(const CodePage& cp, std::string prompt, const MediaPromptText& t,
                            const std::string& fileName) {
    ReplaceEvery(cp, prompt, "*label*", t.label);
    ReplaceEvery(cp, prompt, "*drv*", t.drive);
    ReplaceEvery(cp, prompt, "*filename*", fileName);
    return prompt;
}

bool MediaAnswerFits(const std::string& path) { return path.size() < kStatusFieldSize; }

void AnswerMediaRequest(InstallStatus& status, bool given, const std::string& path) {
    const bool answered = given && MediaAnswerFits(path);
    status.SetText(answered ? "TRUE" : "FALSE");
    status.SetDetail(answered ? path : std::string());
}

std::string OpenFileFilter(const CodePage& cp, const std::string& barSeparated) {
    std::string filter = barSeparated;
    for (std::size_t i = 0; i < filter.size(); i += cp.CharLength(filter, i))
        if (filter[i] == '|') filter[i] = '\0';
    filter.append(2, '\0');
    return filter;
}

}  // namespace cabsetup

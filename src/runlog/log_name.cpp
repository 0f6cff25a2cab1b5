#include "runlog/log_name.h"

#include "platform/date_text.h"

namespace cabsetup {

namespace {

bool FitsAFileName(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x20 && std::string_view("\\/:*?\"<>|").find(c) == std::string_view::npos;
}

}  // namespace

std::string LogFileName(const CodePage& cp, std::string_view key, bool uninstaller, const LocalTime& t) {
    std::string name = "cabsetup-";
    if (key.empty()) key = kUnknownLogKey;
    for (std::size_t i = 0; i < key.size();) {
        std::size_t n = cp.CharLength(key, i);
        // A double-byte character is one character, whatever its trail byte.
        if (n == 1 && !FitsAFileName(key[i])) name += '_';
        else name.append(key.substr(i, n));
        i += n;
    }
    if (uninstaller) name += "-uninstall";
    return name + '-' + DateDigits(t) + '-' + TimeDigits(t) + ".log";
}

std::string LogSwitchPath(std::string_view line) {
    for (std::size_t i = 0; i + 3 <= line.size(); ++i) {
        if (line[i] != '/' || (line[i + 1] != 'l' && line[i + 1] != 'L') || line[i + 2] != '=') continue;
        std::size_t from = i + 3;
        if (from < line.size() && line[from] == '"') {
            std::size_t close = line.find('"', from + 1);
            return std::string(line.substr(from + 1, close == std::string_view::npos ? close : close - from - 1));
        }
        std::size_t end = line.find_first_of(" \t", from);
        return std::string(line.substr(from, end == std::string_view::npos ? end : end - from));
    }
    return {};
}

bool OpenRunLog(Os& os, RunLog& log, const std::string& switchPath, std::string_view key, bool uninstaller) {
#ifdef CABSETUP_NO_RUN_LOG
    log.Abandon();  // the benchmark's build without the log: no file, no flusher
    return false;
#endif
    if (!switchPath.empty()) {
        if (log.Open(switchPath, LogOpen::Replace)) return true;
        log.Abandon();
        return false;
    }
    std::string folder = os.TempPath();
    if (folder.empty()) folder = os.WindowsDirectory() + "\\Temp";
    std::string name = LogFileName(os.Mbcs(), key, uninstaller, os.Now());
    const std::string stem = folder + "\\" + name.substr(0, name.size() - 4);
    // Two runs in one second keep a log each.
    for (int attempt = 1; attempt <= 20; ++attempt) {
        std::string path = stem;
        if (attempt != 1) {
            path += '-';
            path += std::to_string(attempt);
        }
        path += ".log";
        if (log.Open(path, LogOpen::New)) return true;
        if (os.LastError() != 80 && os.LastError() != 183) break;  // ERROR_FILE_EXISTS, ERROR_ALREADY_EXISTS
    }
    log.Abandon();
    return false;
}

}  // namespace cabsetup

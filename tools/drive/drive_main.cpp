// cabsetup-drive: runs under Windows (or Wine) on behalf of `mksetup try`.
// It drives a package's setup.exe through its wizard as a user would,
// photographs and checks every page, runs programs answering their message
// boxes, reads shortcuts back and lists the registry. Every fact goes into
// an output file as one tab-separated line, UTF-8, which mksetup reads.
//
//   cabsetup-drive wizard   OUT SHOTS SETUP_EXE [ARGUMENTS]
//   cabsetup-drive run      OUT SHOTS COMMAND_LINE [CURRENT_DIR]
//   cabsetup-drive links    OUT LINK_FILE...
//   cabsetup-drive registry OUT
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "page_check.h"
#include "window_driving.h"

using namespace cabsetup::drive;

namespace {

// One fact a line: fields by tabs; tab, line ends and backslash escaped.
class Facts {
public:
    explicit Facts(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
    ~Facts() {
        if (file_) std::fclose(file_);
    }
    bool Open() const { return file_ != nullptr; }
    void Line(const std::vector<std::string>& fields) {
        std::string line;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i) line += '\t';
            for (char c : fields[i]) {
                switch (c) {
                case '\t': line += "\\t"; break;
                case '\n': line += "\\n"; break;
                case '\r': line += "\\r"; break;
                case '\\': line += "\\\\"; break;
                default: line += c;
                }
            }
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), file_);
        // What the wizard showed survives a driver that is ended half-way;
        // the registry's thousands of lines are written in one go.
        if (fields[0] != "key" && fields[0] != "value") std::fflush(file_);
    }

private:
    std::FILE* file_;
};

std::string Folder(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string Number(long long n) { return std::to_string(n); }

void Settle(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
}

// Photographs a message box and records what it says.
void RecordBox(Facts& facts, const std::string& shots, HWND box, int& boxes) {
    Settle(box);
    std::string shot = "box-" + Number(++boxes) + ".bmp";
    if (!CaptureWindow(box, shots + "\\" + shot)) shot.clear();
    HWND text = StaticTextControl(box);
    facts.Line({"box", WindowTextUtf8(box), text ? WindowTextUtf8(text) : std::string(), shot});
}

enum class Page { None, Welcome, License, Folder, Copying, Finish };
const char* PageName(Page p) {
    switch (p) {
    case Page::Welcome: return "welcome";
    case Page::License: return "license";
    case Page::Folder: return "folder";
    case Page::Copying: return "copying";
    case Page::Finish: return "finish";
    default: return "none";
    }
}

// Which page the wizard shows, from the controls each page shows.
Page CurrentPage(const DrivenSetup& s) {
    if (!IsWindow(s.Wizard())) return Page::None;
    if (s.Visible(1013)) return Page::License;
    if (s.Visible(1007)) return Page::Folder;
    if (s.Visible(1010)) return Page::Copying;
    if (s.Visible(1006)) return s.Enabled(1000) ? Page::Welcome : Page::Finish;
    return Page::None;
}

void Photograph(Facts& facts, const std::string& shots, const DrivenSetup& s, const DialogFont& font, Page page, int n) {
    Settle(s.Wizard());
    Picture shot;
    std::string name = Number(n) + "-" + PageName(page) + ".bmp";
    if (!GrabWindow(s.Wizard(), shot) || !SaveBmp(shot, shots + "\\" + name)) name.clear();
    // The welcome and finish pages draw the side picture in the area of control 1021.
    const bool sidePicture = page == Page::Welcome || page == Page::Finish;
    PageCheck check = CheckPage(s.Wizard(), font, shot, sidePicture ? 1021 : 0);
    facts.Line({"page", Number(n), PageName(page), name, WindowTextUtf8(s.Wizard()), check.face, Number(check.charset),
                Number(check.hangulCharacters), Number(check.hangulMissing), sidePicture ? "1" : "0",
                Number(static_cast<long long>(check.pictureInk * 10000))});
    for (const ControlCheck& c : check.controls)
        facts.Line({"control", Number(n), Number(c.id), c.kind, c.fits ? "1" : "0", Number(c.needWidth), Number(c.needHeight),
                    Number(c.haveWidth), Number(c.haveHeight), c.why, c.text});
}

int DriveWizard(Facts& facts, const std::string& shots, const std::string& exe, const std::string& arguments) {
    DialogFont font = TemplateFont(exe, 129);
    facts.Line({"font", Utf8(font.face), Number(font.pointSize)});
    DrivenSetup s;
    if (!s.Start(exe, arguments, Folder(exe))) {
        facts.Line({"error", "could not start " + exe + " (error " + Number(GetLastError()) + ")"});
        return 3;
    }
    int boxes = 0, shotsTaken = 0;
    Page last = Page::None;
    HWND answered = nullptr;
    const DWORD start = GetTickCount();
    // Up to five minutes: a big package copies for a while.
    while (!s.Ended() && GetTickCount() - start < 300000) {
        for (DWORD process : ProcessAndChildren(s.ProcessId()))
            if (HWND box = FindDialogOfProcess(process, DialogKind::Other); box && box != answered) {
                RecordBox(facts, shots, box, boxes);
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                answered = box;
            }
        if (!s.Wizard() || !IsWindow(s.Wizard())) {
            s.WaitForWizard(100);
            continue;
        }
        Page page = CurrentPage(s);
        // The finish page empties its second text last of its texts.
        if (page == Page::Finish && !s.Text(1012).empty()) page = Page::None;
        if (page == Page::None || page == last) {
            Sleep(50);
            continue;
        }
        last = page;
        Photograph(facts, shots, s, font, page, shotsTaken++);
        switch (page) {
        case Page::License:
            if (!s.Checked(1014)) s.Click(1014);
            s.Click(1001);
            break;
        case Page::Welcome:
        case Page::Folder:
        case Page::Finish:
            s.Click(1001);
            break;
        default:
            break;  // copying: the wizard moves on by itself
        }
    }
    DWORD code = s.WaitForExit(30000);
    facts.Line({"exit", Number(code)});
    return 0;
}

int RunCommand(Facts& facts, const std::string& shots, const std::string& commandLine, std::string currentDir) {
    std::string exe, arguments;
    if (!commandLine.empty() && commandLine[0] == '"') {
        std::size_t end = commandLine.find('"', 1);
        exe = commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1);
        arguments = end == std::string::npos ? "" : commandLine.substr(end + 1);
    } else {
        std::size_t space = commandLine.find(' ');
        exe = commandLine.substr(0, space);
        arguments = space == std::string::npos ? "" : commandLine.substr(space);
    }
    while (!arguments.empty() && arguments[0] == ' ') arguments.erase(0, 1);
    int boxes = 0;
    if (currentDir.empty()) currentDir = Folder(exe);
    SetupRun run = RunAndAnswerBoxes(exe, arguments, currentDir, 300000, true,
                                     [&](HWND box) { RecordBox(facts, shots, box, boxes); });
    if (run.startError && !run.finished && run.exitCode == 0) {
        facts.Line({"error", "could not start " + exe + " (error " + Number(run.startError) + ")"});
        return 3;
    }
    facts.Line({"exit", Number(run.exitCode), run.finished ? "1" : "0"});
    return 0;
}

int ReadLinks(Facts& facts, int count, char** files) {
    if (FAILED(CoInitialize(nullptr))) return 3;
    for (int i = 0; i < count; ++i) {
        IShellLinkW* link = nullptr;
        IPersistFile* file = nullptr;
        wchar_t target[MAX_PATH] = {}, args[1024] = {}, dir[MAX_PATH] = {}, description[1024] = {};
        bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                             reinterpret_cast<void**>(&link))) &&
                  SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                  SUCCEEDED(file->Load(Wide(files[i]).c_str(), STGM_READ));
        if (ok) {
            link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
            link->GetArguments(args, 1024);
            link->GetWorkingDirectory(dir, MAX_PATH);
            link->GetDescription(description, 1024);
        }
        facts.Line({"link", files[i], ok ? "1" : "0", Utf8(target), Utf8(args), Utf8(dir), Utf8(description)});
        if (file) file->Release();
        if (link) link->Release();
    }
    CoUninitialize();
    return 0;
}

std::string ValueData(DWORD type, const std::vector<BYTE>& data) {
    if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) && data.size() >= 2) {
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        for (wchar_t& c : text)
            if (c == L'\0') c = L'\n';
        return Utf8(text);
    }
    if (type == REG_DWORD && data.size() == 4) return Number(*reinterpret_cast<const DWORD*>(data.data()));
    std::string hex;
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size() && i < 64; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 15];
    }
    if (data.size() > 64) hex += "...";
    return hex;
}

void ListKey(Facts& facts, HKEY root, const std::wstring& rootName, const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    const std::wstring full = rootName + L"\\" + path;
    facts.Line({"key", Utf8(full)});
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = 0;
        LONG r = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, nullptr, &size);
        if (r != ERROR_SUCCESS) break;
        data.assign(size, 0);
        nameLength = static_cast<DWORD>(name.size());
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) continue;
        data.resize(size);
        static const char* types[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
                                      "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ"};
        facts.Line({"value", Utf8(full), Utf8(std::wstring(name.data(), nameLength)),
                    type < 8 ? types[type] : "type " + Number(type), ValueData(type, data)});
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(name.data(), nameLength);
    }
    RegCloseKey(key);
    // The system's own registrations of classes, interfaces and type
    // libraries are most of the registry: a package's new entry there shows
    // as a new key, without walking the thousands that are Wine's.
    std::wstring lower = path;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    for (const wchar_t* bulky : {L"\\classes\\clsid", L"\\classes\\interface", L"\\classes\\typelib",
                                 L"\\classes\\wow6432node"})
        if (lower.size() >= wcslen(bulky) && lower.compare(lower.size() - wcslen(bulky), wcslen(bulky), bulky) == 0) {
            for (const std::wstring& sub : subkeys) facts.Line({"key", Utf8(full + L"\\" + sub)});
            return;
        }
    for (const std::wstring& sub : subkeys) ListKey(facts, root, rootName, path + L"\\" + sub);
}

int Usage() {
    std::fputs("usage: cabsetup-drive wizard OUT SHOTS SETUP_EXE [ARGUMENTS]\n"
               "       cabsetup-drive run OUT SHOTS COMMAND_LINE [CURRENT_DIR]\n"
               "       cabsetup-drive links OUT LINK_FILE...\n"
               "       cabsetup-drive registry OUT\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    Facts facts(argv[2]);
    if (!facts.Open()) {
        std::fprintf(stderr, "cabsetup-drive: cannot write %s\n", argv[2]);
        return 3;
    }
    if (command == "wizard" && argc >= 5) {
        std::string arguments;
        for (int i = 5; i < argc; ++i) arguments += (i > 5 ? " " : "") + std::string(argv[i]);
        return DriveWizard(facts, argv[3], argv[4], arguments);
    }
    if (command == "run" && (argc == 5 || argc == 6)) return RunCommand(facts, argv[3], argv[4], argc == 6 ? argv[5] : "");
    if (command == "links") return ReadLinks(facts, argc - 3, argv + 3);
    if (command == "registry") {
        // The 64-bit view: what the x86_64 programs write; a 32-bit setup.exe on
        // 64-bit Windows writes below WOW6432Node, which this walk includes.
        ListKey(facts, HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", L"Software");
        ListKey(facts, HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", L"Software");
        return 0;
    }
    return Usage();
}

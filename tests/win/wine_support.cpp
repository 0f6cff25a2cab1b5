#include "wine_support.h"

#include <cstdio>

namespace cabsetup::wine {

TestFolder::TestFolder(const std::string& name) : path_("C:\\cabsetup-tests\\" + name) {
    CreateDirectoryA("C:\\cabsetup-tests", nullptr);
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TestFolder::~TestFolder() { RemoveTree(path_); }

bool WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::string ReadText(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "<missing>";
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
    return text;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
            else DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &data));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

TestKey::TestKey(HKEY root, std::string subkey) : root_(root), subkey_(std::move(subkey)) {
    RegDeleteKeyA(root_, subkey_.c_str());
    HKEY key;
    if (RegCreateKeyExA(root_, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
        RegCloseKey(key);
}

TestKey::~TestKey() { RegDeleteKeyA(root_, subkey_.c_str()); }

void TestKey::SetString(const std::string& name, const std::string& value) {
    HKEY key;
    if (RegOpenKeyExA(root_, subkey_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

std::string CopySetupExe(const TestFolder& folder) {
    // The build's Unix path, as Wine shows it on drive Z:.
    std::string source = "Z:" CABSETUP_SETUP_EXE;
    for (char& c : source)
        if (c == '/') c = '\\';
    std::string target = folder / "setup.exe";
    CopyFileA(source.c_str(), target.c_str(), FALSE);
    return target;
}

}  // namespace cabsetup::wine

#include "text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace mksetup {

bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string& out) {
    out.clear();
    bool ascii = true;
    for (unsigned char c : utf8) ascii &= c < 0x80;
    if (ascii) {
        out = utf8;
        return true;
    }
#ifdef _WIN32
    int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wide <= 0) return false;
    std::wstring w(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), wide);
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(static_cast<UINT>(codePage), 0, w.data(), wide, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(static_cast<UINT>(codePage), 0, w.data(), wide, out.data(), n, nullptr, nullptr);
    return true;
#else
    std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open(name.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in = utf8;
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    std::string buffer(in.size() * 2 + 8, '\0');
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
    iconv_close(cd);
    if (ok) out.assign(buffer.data(), buffer.size() - outLeft);
    return ok;
#endif
}

}  // namespace mksetup

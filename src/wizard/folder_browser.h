// The folder choice behind Browse: the shell's folder browser with a text
// field of ours, so that a folder that does not exist yet can be typed.
#pragma once

#include "platform/win32/win32_os.h"
#include "platform/win32/windows_clean.h"

#include <string>

#include "app/setup_state.h"

namespace cabsetup {

class CFolderBrowser {
public:
    CFolderBrowser(Win32Os& os, HWND owner, std::string initialFolder, std::string instruction)
        : os_(os), owner_(owner), initialFolder_(std::move(initialFolder)), instruction_(std::move(instruction)) {}
    CFolderBrowser(const CFolderBrowser&) = delete;
    CFolderBrowser& operator=(const CFolderBrowser&) = delete;

    // 1 when a folder was chosen (Path() holds it), -1 otherwise.
    int Run();
    const std::string& Path() const { return path_; }

    // 0 when the folder may be used; otherwise the browser stays open. Shows 6032 or asks 6031.
    static int CheckFolder(Os& os, const std::string& folder);

private:
    static int CALLBACK Callback(HWND window, UINT msg, LPARAM lp, LPARAM data);
    static LRESULT CALLBACK Subclass(HWND window, UINT msg, WPARAM wp, LPARAM lp);
    void OnInitialized(HWND window);
    void OnSelectionChanged(LPARAM idList);
    std::string FieldText() const;

    Win32Os& os_;
    HWND owner_;
    std::string initialFolder_, instruction_, path_;
    HWND browser_ = nullptr, field_ = nullptr;
    WNDPROC previousProc_ = nullptr;
    int accepted_ = 0;
};

}  // namespace cabsetup

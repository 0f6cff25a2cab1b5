#include <windows.h>
#include <setupapi.h>

#include "unpack.h"

namespace mksetup {

namespace {

struct Context {
    std::string out;
    int files = 0;
};

UINT CALLBACK OnCabinetNotification(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR) {
    auto* c = static_cast<Context*>(context);
    if (notification == SPFILENOTIFY_FILEINCABINET) {
        auto* info = reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1);
        if (++c->files > 1 || c->out.size() >= MAX_PATH) return FILEOP_SKIP;
        lstrcpynA(info->FullTargetName, c->out.c_str(), MAX_PATH);
        return FILEOP_DOIT;
    }
    return NO_ERROR;
}

}  // namespace

bool UnpackSingleFile(const std::filesystem::path& cabinet, const std::filesystem::path& out, std::string& error) {
    Context context{out.string(), 0};
    DeleteFileA(context.out.c_str());
    if (!SetupIterateCabinetA(cabinet.string().c_str(), 0, OnCabinetNotification, &context)) {
        error = "the system's cabinet interface failed (error " + std::to_string(GetLastError()) + ")";
        DeleteFileA(context.out.c_str());
        return false;
    }
    if (context.files != 1) {
        error = "the cabinet does not hold exactly one file";
        return false;
    }
    return true;
}

}  // namespace mksetup

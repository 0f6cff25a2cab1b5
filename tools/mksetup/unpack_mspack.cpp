#include <mspack.h>

#include "unpack.h"

namespace mksetup {

bool UnpackSingleFile(const std::filesystem::path& cabinet, const std::filesystem::path& out, std::string& error) {
    mscab_decompressor* cabd = mspack_create_cab_decompressor(nullptr);
    if (!cabd) {
        error = "libmspack could not start";
        return false;
    }
    bool ok = false;
    // libmspack keeps the name it was opened with until the cabinet is closed.
    std::string name = cabinet.string(), target = out.string();
    if (mscabd_cabinet* cab = cabd->open(cabd, name.data())) {
        if (!cab->files || cab->files->next) error = "the cabinet does not hold exactly one file";
        else if (cabd->extract(cabd, cab->files, target.data()) != MSPACK_ERR_OK)
            error = "libmspack could not unpack it (error " + std::to_string(cabd->last_error(cabd)) + ")";
        else ok = true;
        cabd->close(cabd, cab);
    } else {
        error = "libmspack could not open it as a cabinet (error " + std::to_string(cabd->last_error(cabd)) + ")";
    }
    mspack_destroy_cab_decompressor(cabd);
    return ok;
}

}  // namespace mksetup

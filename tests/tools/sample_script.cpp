// Writes a sample setup.inf for demonstrations and manual runs:
//   sample_script OUT.inf [full|update]
#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/setup_script.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.inf [full|update]\n", argv[0]);
        return 2;
    }
    bool update = argc > 2 && std::strcmp(argv[2], "update") == 0;
    cabsetup::ScriptHalf s;
    cabsetup::ScriptHeader& h = s.header;
    h.setupKind = update ? cabsetup::kSetupKindUpdate : cabsetup::kSetupKindFull;
    h.companyName = "Example Software";
    h.modelName = "Hello";
    h.modelVersion = "1.2";
    h.requiredVersion = "1.0";
    h.defaultTargetDir = "<PROGRAMFILES_DIR>\\<COMPANY_NAME>\\<MODEL_NAME>";
    h.windowTitle = "Hello 1.2 Setup";
    h.displayName = "<MODEL_NAME> <MODEL_VERSION>";
    h.uninstallKey = "ExampleHello";
    std::vector<unsigned char> bytes;
    std::string error;
    if (!cabsetup::WriteScript(s, bytes, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}

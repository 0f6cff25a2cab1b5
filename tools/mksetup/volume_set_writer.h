// Cuts one data set's stream into volumes of at most a given size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/volume_format.h"
#include "manifest.h"

namespace mksetup {

class VolumeSetWriter {
public:
    // firstFolder: where the set's first volume goes; siblingsRoot: where the
    // Folders layout puts each further volume's own folder.
    VolumeSetWriter(const Medium& medium, std::filesystem::path firstFolder, std::filesystem::path siblingsRoot);
    ~VolumeSetWriter();
    VolumeSetWriter(const VolumeSetWriter&) = delete;
    VolumeSetWriter& operator=(const VolumeSetWriter&) = delete;

    bool Begin(const cabsetup::VolumeHeader& header, const std::string& volumeVersion);
    bool Append(const unsigned char* data, std::size_t size);
    // Closes the last volume; a set that fits one volume gets span id 0.
    bool Finish();

    const std::vector<std::filesystem::path>& Volumes() const { return volumes_; }
    const std::string& Error() const { return error_; }

private:
    bool OpenNext();
    bool CloseCurrent();
    bool Fail(const std::string& message);

    Medium medium_;
    std::filesystem::path firstFolder_, siblingsRoot_;
    cabsetup::VolumeHeader header_;
    std::FILE* file_ = nullptr;
    std::uint64_t room_ = 0;     // bytes the open volume can still take
    std::uint64_t written_ = 0;  // stream bytes in the open volume
    std::vector<std::filesystem::path> volumes_;
    std::string error_;
};

}  // namespace mksetup

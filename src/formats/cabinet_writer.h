// Writes a Microsoft Cabinet holding one file: CFHEADER, one CFFOLDER, one
// CFFILE and CFDATA blocks of at most 32 KiB, each with its checksum, stored
// or MSZIP-compressed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cabsetup {

enum class CabinetCompression { Stored, Mszip };

struct CabinetOptions {
    CabinetCompression compression = CabinetCompression::Mszip;
    int level = 6;              // zlib level for MSZIP, 1..9 (6: zlib's own default)
    std::uint16_t dosDate = 0x2821;  // 2000-01-01: the same input gives the same bytes
    std::uint16_t dosTime = 0;
    std::uint16_t setId = 0;
    unsigned threads = 1;  // blocks of a large file are compressed on this many threads
};

// Appends the cabinet to `out`. `name` is the file's name inside the
// cabinet. False when the file is too large for the format (4 GiB) or zlib
// fails.
bool WriteSingleFileCabinet(const std::string& name, const unsigned char* data, std::size_t size,
                            const CabinetOptions& options, std::vector<unsigned char>& out);

}  // namespace cabsetup

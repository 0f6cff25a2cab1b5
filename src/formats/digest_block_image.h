// The package digest block inside a Windows program's image, for the vendor's
// tool (never linked into setup.exe: its marker must stay unique there).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "formats/package_digests.h"

namespace cabsetup {

extern const unsigned char kDigestMarker[kDigestMarkerSize];

// Where the block lies in the image: the offset of its marker in the file.
// Refused (false, `error` says why): an image too short or not a PE image,
// no marker, more than one, a marker whose block is not wholly inside one
// initialised data section's loaded bytes, or one in what Authenticode
// leaves out (the header's checksum, the certificate table).
bool FindDigestBlock(const unsigned char* image, std::size_t size, std::size_t& offset, std::string& error);
// Reads the block of an image; false as FindDigestBlock, or a body that is invalid.
bool ReadDigestBlock(const std::vector<unsigned char>& image, DigestBlock& block, std::string& error);
// Fills the block of an image in place; false as FindDigestBlock, or when
// the image carries a signature already (filling it would break it).
bool FillDigestBlock(std::vector<unsigned char>& image, const DigestBlock& block, std::string& error);
// Whether the image carries an Authenticode signature (a certificate table).
bool ImageIsSigned(const unsigned char* image, std::size_t size);

}  // namespace cabsetup

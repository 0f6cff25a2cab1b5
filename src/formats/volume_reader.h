// Reads a data set's byte stream: opens its first volume, reads cabinet
// records and cabinet data, and changes to the next volume whenever the
// current one runs out, however many volumes a record or cabinet spans.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "formats/volume_format.h"
#include "platform/os.h"
#include "platform/sha256.h"

namespace cabsetup {

class VolumeReader {
public:
    // Finds volume k (volumeIndex, 1 for the second) of the current set and
    // returns its path; empty when it cannot be found.
    using FindVolume = std::function<std::string(std::uint32_t k)>;

    explicit VolumeReader(Os& os) : os_(os) {}

    void SetFindVolume(FindVolume find) { findVolume_ = std::move(find); }

    // Opens a set's first volume and reads its header; a linked set's volume
    // version text goes into *volumeVersion when given.
    bool OpenVolume(const std::string& path, std::string* volumeVersion = nullptr);
    void Close();

    // Tests of a candidate file; none of them disturbs the open volume.
    bool IsVolumeFile(const std::string& path);
    bool IsLinkedVolumeFile(const std::string& label, const std::string& path);
    bool IsContinuationFile(const std::string& path, std::uint32_t k);

    // The next record of the stream.
    bool ReadCabinetRecord(CabinetRecord& record);
    // Copies the record's cabinet data into a new file at cabinetPath (write)
    // or skips it. A read, seek or write error fails, as does a missing volume.
    // The first `alreadyRead` bytes were read from the stream before, into `prefix`.
    bool CopyCabinetData(const CabinetRecord& record, const std::string& cabinetPath, bool write,
                         const unsigned char* prefix = nullptr, std::size_t alreadyRead = 0);
    // The next bytes of the stream, across volumes: exactly `size` of them, or false.
    bool Read(unsigned char* buffer, std::size_t size) { return ReadStream(buffer, size); }
    bool Skip(std::uint64_t size) { return SkipStream(size); }

    // Every byte of the stream read or skipped from now on also goes into
    // `digest` (null: none); skipping then reads instead of seeking.
    void Tap(Sha256* digest) { tap_ = digest; }
    // SHA-256 of the open set's header as read: its 284 bytes and, in a
    // linked set, the version text's bytes that arrived.
    const Sha256::Digest& HeaderDigest() const { return headerDigest_; }

    const VolumeHeader& CurrentHeader() const { return header_; }
    // Where the stream stands: index of the volume being read (0: the first)
    // and the offset in that file.
    std::uint32_t VolumeIndex() const { return continuation_.volumeIndex; }
    std::uint64_t Offset() const { return position_; }
    std::uint64_t VolumeLength() const { return length_; }

private:
    bool ReadStream(unsigned char* buffer, std::size_t size);
    bool SkipStream(std::uint64_t size);
    bool ChangeVolume();
    bool ReadAhead();
    bool ReadExactly(Os::Handle& file, unsigned char* buffer, std::size_t size);

    Os& os_;
    FindVolume findVolume_;
    Os::HandlePtr volume_;
    VolumeHeader header_;
    ContinuationHeader continuation_;
    std::uint64_t position_ = 0, length_ = 0;
    Sha256* tap_ = nullptr;
    // Bytes of the open volume read ahead of the stream: [aheadAt_, aheadEnd_)
    // of ahead_ are the stream's next bytes, at `position_`.
    std::unique_ptr<unsigned char[]> ahead_;
    std::size_t aheadAt_ = 0, aheadEnd_ = 0;
    bool aheadRefused_ = false;
    Sha256::Digest headerDigest_{};
};

// The search for volume k of the reader's open set that asks nobody: the
// data folder, then the volume's own folder beside it, which then becomes
// the data folder. Empty when neither holds it; *name gets the file name
// that was looked for.
std::string FindVolumeWithoutAsking(VolumeReader& reader, const CodePage& cp, std::string& dataFolder,
                                    std::uint32_t k, std::string* name = nullptr);

}  // namespace cabsetup

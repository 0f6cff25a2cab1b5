#include "package_builder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <thread>

#include "formats/volume_format.h"
#include "volume_set_writer.h"

namespace mksetup {

namespace fs = std::filesystem;
using namespace cabsetup;

namespace {

bool ReadWhole(const fs::path& path, std::vector<unsigned char>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

bool WriteWhole(const fs::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

struct Packed {
    std::vector<unsigned char> bytes;  // record + cabinet
    std::uint64_t payload = 0;
    std::string error;
};

Packed PackFile(const PackageFile& f, std::uint32_t number, const CabinetOptions& options) {
    Packed p;
    std::vector<unsigned char> data;
    if (!ReadWhole(f.source, data)) {
        p.error = "cannot read " + f.source.string();
        return p;
    }
    if (data.size() > 0xFFFFFFFFu) {
        p.error = f.source.string() + " is 4 GiB or larger, more than a cabinet holds";
        return p;
    }
    p.payload = data.size();
    CabinetRecord record{f.target, number, 0, static_cast<std::uint32_t>(data.size()), f.replaceMode};
    p.bytes.resize(kCabinetRecordSize);
    // An empty file needs no cabinet: the record alone makes it.
    if (!data.empty() &&
        !WriteSingleFileCabinet(f.source.filename().string(), data.data(), data.size(), options, p.bytes)) {
        p.error = "cannot compress " + f.source.string();
        return p;
    }
    record.cabinetSize = static_cast<std::uint32_t>(p.bytes.size() - kCabinetRecordSize);
    if (!WriteCabinetRecord(record, p.bytes.data())) p.error = "target of " + f.source.string() + " is too long";
    return p;
}

// Writes one set; files are packed on every core, written in their order.
bool WriteSet(const std::vector<PackageFile>& files, std::uint32_t firstNumber, VolumeSetWriter& writer,
              const Medium& medium, const BuildOptions& options, std::size_t& done, std::size_t total,
              std::uint64_t& bytesDone, std::uint64_t bytesTotal, std::string& error) {
    const std::size_t threads = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t batch = threads * 4;
    std::vector<Packed> packed;
    for (std::size_t start = 0; start < files.size(); start += batch) {
        std::size_t n = std::min(batch, files.size() - start);
        packed.assign(n, {});
        std::vector<std::thread> pool;
        for (std::size_t t = 0; t < std::min(threads, n); ++t)
            pool.emplace_back([&, t] {
                for (std::size_t i = t; i < n; i += threads)
                    packed[i] = PackFile(files[start + i], firstNumber + static_cast<std::uint32_t>(start + i),
                                         medium.cabinet);
            });
        for (auto& th : pool) th.join();
        for (std::size_t i = 0; i < n; ++i) {
            if (!packed[i].error.empty()) {
                error = packed[i].error;
                return false;
            }
            if (!writer.Append(packed[i].bytes.data(), packed[i].bytes.size())) {
                error = writer.Error();
                return false;
            }
            bytesDone += packed[i].payload;
            if (options.progress) options.progress(++done, total, bytesDone, bytesTotal);
        }
    }
    return true;
}

std::uint32_t SpanId(std::uint32_t seed, std::uint32_t setType) {
    std::uint32_t id = (seed ^ (setType * 0x9E3779B9u)) | 1u;  // never 0: 0 means a single volume
    return id;
}

}  // namespace

bool BuildPackage(const Manifest& m, const BuildOptions& options, BuildResult& result, std::string& error) {
    std::error_code ec;
    if (fs::exists(options.outDir, ec) && !fs::is_empty(options.outDir, ec)) {
        if (!options.clean) {
            error = options.outDir.string() + " is not empty; give --clean to replace what is in it";
            return false;
        }
        fs::remove_all(options.outDir, ec);
    }
    fs::path setupFolder = m.medium.layout == Layout::Folders ? options.outDir / m.medium.firstFolder : options.outDir;
    if (!fs::create_directories(setupFolder, ec) && ec) {
        error = "cannot create " + setupFolder.string();
        return false;
    }
    result.setupFolder = setupFolder;

    std::size_t total = m.files.size() + (m.hasLinked ? m.linked.files.size() : 0), done = 0;
    std::uint64_t bytesTotal = 0, bytesDone = 0;
    for (const auto* set : {&m.files, &m.linked.files})
        for (const PackageFile& f : *set) bytesTotal += fs::file_size(f.source, ec);

    VolumeHeader main{kVolumeMagic, kSetTypeMain, m.hasLinked ? m.linked.label : std::string(),
                      static_cast<std::uint32_t>(m.files.size()), m.medium.volumeSize ? SpanId(m.spanSeed, 1) : 0,
                      kVolumeFormatVersion};
    VolumeSetWriter mainWriter(m.medium, setupFolder, options.outDir);
    if (!mainWriter.Begin(main, "") ||
        !WriteSet(m.files, 0, mainWriter, m.medium, options, done, total, bytesDone, bytesTotal, error) ||
        !mainWriter.Finish()) {
        if (error.empty()) error = mainWriter.Error();
        return false;
    }
    result.volumes = mainWriter.Volumes();

    std::vector<unsigned char> bytes;
    if (!WriteScript(m.script, bytes, &error) || !WriteWhole(setupFolder / "setup.inf", bytes)) {
        if (error.empty()) error = "cannot write setup.inf";
        return false;
    }
    if (m.hasLinked) {
        VolumeHeader linked{kVolumeMagic, kSetTypeLinked, m.linked.label,
                            static_cast<std::uint32_t>(m.linked.files.size()),
                            m.medium.volumeSize ? SpanId(m.spanSeed, 2) : 0, kVolumeFormatVersion};
        fs::path linkedFolder = m.medium.layout == Layout::Folders ? options.outDir / "Data-A" : setupFolder;
        VolumeSetWriter writer(m.medium, linkedFolder, options.outDir);
        if (!writer.Begin(linked, m.linked.volumeVersion) ||
            !WriteSet(m.linked.files, kFirstLinkedCabinet, writer, m.medium, options, done, total, bytesDone,
                      bytesTotal, error) ||
            !writer.Finish()) {
            if (error.empty()) error = writer.Error();
            return false;
        }
        result.volumes.insert(result.volumes.end(), writer.Volumes().begin(), writer.Volumes().end());
        // Data.inf travels beside the linked set's first volume.
        if (!WriteScript(m.linked.script, bytes, &error) || !WriteWhole(linkedFolder / "Data.inf", bytes)) {
            if (error.empty()) error = "cannot write Data.inf";
            return false;
        }
    }
    const std::pair<const fs::path*, const char*> copies[] = {
        {&options.setupExe, "setup.exe"}, {&m.license, "license.txt"}, {&m.picture, "setup.bmp"}};
    for (const auto& [from, name] : copies) {
        if (from->empty()) continue;
        if (!fs::copy_file(*from, setupFolder / name, fs::copy_options::overwrite_existing, ec)) {
            error = "cannot copy " + from->string() + ": " + ec.message();
            return false;
        }
    }
    result.payloadBytes = bytesTotal;
    for (const fs::path& v : result.volumes) result.packageBytes += fs::file_size(v, ec);
    return true;
}

}  // namespace mksetup

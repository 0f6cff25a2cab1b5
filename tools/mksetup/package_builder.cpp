#include "package_builder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <condition_variable>
#include <mutex>
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

// Writes one set. Files are packed on every core, taken from one queue so
// that a large file does not hold back the rest, and written in their order.
bool WriteSet(const std::vector<PackageFile>& files, std::uint32_t firstNumber, VolumeSetWriter& writer,
              const Medium& medium, const BuildOptions& options, std::size_t& done, std::size_t total,
              std::uint64_t& bytesDone, std::uint64_t bytesTotal, std::string& error) {
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    CabinetOptions cabinet = medium.cabinet;
    cabinet.threads = threads;
    const std::size_t window = threads * 8;
    std::vector<Packed> packed(files.size());
    std::vector<char> ready(files.size(), 0);
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0, written = 0;
    bool stop = false;

    auto work = [&] {
        for (;;) {
            std::size_t i;
            {
                std::unique_lock lock(mutex);
                // Stay a bounded distance ahead of the writer: memory stays small.
                changed.wait(lock, [&] { return stop || next >= files.size() || next < written + window; });
                if (stop || next >= files.size()) return;
                i = next++;
            }
            Packed p = PackFile(files[i], firstNumber + static_cast<std::uint32_t>(i), cabinet);
            std::lock_guard lock(mutex);
            packed[i] = std::move(p);
            ready[i] = 1;
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);

    bool ok = true;
    for (std::size_t i = 0; i < files.size() && ok; ++i) {
        Packed p;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return ready[i] != 0; });
            p = std::move(packed[i]);
            written = i + 1;
            changed.notify_all();
        }
        if (!p.error.empty()) {
            error = p.error;
            ok = false;
        } else if (!writer.Append(p.bytes.data(), p.bytes.size())) {
            error = writer.Error();
            ok = false;
        } else {
            bytesDone += p.payload;
            if (options.progress) options.progress(++done, total, bytesDone, bytesTotal);
        }
    }
    {
        std::lock_guard lock(mutex);
        stop = true;
        changed.notify_all();
    }
    for (auto& th : pool) th.join();
    return ok;
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

#include "package_reader.h"

#include "code_signing.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <memory>
#include <sstream>

#include "formats/digest_block_image.h"
#include "formats/setup_script.h"
#include "formats/volume_reader.h"
#include "unpack.h"

#ifdef _WIN32
#include "platform/win32/win32_os.h"
#include "platform/win32/windows_clean.h"
#else
#include <unistd.h>

#include "platform/host/host_os.h"
#endif

namespace mksetup {

namespace fs = std::filesystem;
using namespace cabsetup;

namespace {

// The system seam over this machine's own files, and a path of this machine
// as that seam spells it.
#ifdef _WIN32
std::unique_ptr<Os> MakeOs() { return std::make_unique<Win32Os>(); }
std::string OsPath(const fs::path& p) { return fs::absolute(p).string(); }
#else
std::unique_ptr<Os> MakeOs() {
    auto os = std::make_unique<HostOs>(fs::path("/"));
    os->MapDrive('P', "/");
    return os;
}
std::string OsPath(const fs::path& p) {
    std::string s = "P:" + fs::absolute(p).lexically_normal().string();
    for (char& c : s)
        if (c == '/') c = '\\';
    if (s.size() > 3 && s.back() == '\\') s.pop_back();
    return s;
}
#endif

const char* ReplaceName(std::uint8_t mode) {
    switch (mode) {
    case ReplaceAlways: return "always";
    case ReplaceIfSizeDiffers: return "ifSizeDiffers";
    case KeepExisting: return "keep";
    default: return "unknown";
    }
}

std::string Hex(std::uint32_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

// The folder that holds setup.inf: the one given, or one folder below it
// (a package built with the Folders layout).
fs::path FindSetupFolder(const fs::path& dir) {
    std::error_code ec;
    if (fs::exists(dir / "setup.inf", ec)) return dir;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_directory() && fs::exists(e.path() / "setup.inf", ec)) return e.path();
    return dir;
}

bool ReadBytes(const fs::path& path, std::vector<unsigned char>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

// Walks both sets as setup.exe reads them, each cabinet's record and bytes
// through a digest.
class DigestWalker {
public:
    explicit DigestWalker(const fs::path& dir) : os_(MakeOs()), reader_(*os_) {
        setupFolder_ = FindSetupFolder(dir);
        dataFolder_ = OsPath(setupFolder_);
        reader_.SetFindVolume([this](std::uint32_t k) {
            return FindVolumeWithoutAsking(reader_, os_->Mbcs(), dataFolder_, k);
        });
    }

    bool Run(PackageDigests& out, std::string& error) {
        out = PackageDigests{};
        out.setupFolder = setupFolder_;
        VolumePlaces p = PlacesOfVolume(os_->Mbcs(), dataFolder_, kSetTypeMain, 0);
        if (!reader_.IsVolumeFile(p.first) || !reader_.OpenVolume(p.first)) {
            error = "Data.dat is missing or is not a first volume";
            return false;
        }
        std::string label = reader_.CurrentHeader().label;
        if (!WalkSet(out.list, error)) return false;
        if (label.empty()) return true;
        VolumePlaces q = PlacesOfVolume(os_->Mbcs(), dataFolder_, kSetTypeLinked, 0);
        std::string path;
        if (reader_.IsLinkedVolumeFile(label, q.first)) {
            path = q.first;
        } else if (reader_.IsLinkedVolumeFile(label, q.second)) {
            path = q.second;
            dataFolder_ = q.secondFolder;
        }
        if (path.empty() || !reader_.OpenVolume(path)) {
            error = "the linked set \"" + label + "\" is not found";
            return false;
        }
        fs::path inf = HostPathOf(dataFolder_) / "Data.inf";
        std::error_code ec;
        if (fs::exists(inf, ec)) out.dataInf = inf;
        return WalkSet(out.list, error);
    }

private:
    bool WalkSet(DigestList& list, std::string& error) {
        const VolumeHeader h = reader_.CurrentHeader();
        list.sets.push_back({h.setType, h.cabinetCount, reader_.HeaderDigest()});
        for (std::uint32_t i = 0; i < h.cabinetCount; ++i) {
            Sha256 sha;
            DigestListCabinet c;
            c.volume = reader_.VolumeIndex();
            c.offset = reader_.Offset();
            reader_.Tap(&sha);
            CabinetRecord r;
            bool read = reader_.ReadCabinetRecord(r);
            c.record = sha.Final();
            read = read && reader_.Skip(r.cabinetSize);
            c.cabinet = sha.Final();
            reader_.Tap(nullptr);
            if (!read) {
                error = "record " + std::to_string(i) + " of set " + std::to_string(h.setType) + " cannot be read";
                return false;
            }
            c.number = r.cabinetNumber;
            c.size = r.cabinetSize;
            list.cabinets.push_back(c);
        }
        return true;
    }

    static fs::path HostPathOf(const std::string& osPath) {
#ifdef _WIN32
        return fs::path(osPath);
#else
        std::string s = osPath.substr(2);  // "P:"
        for (char& ch : s)
            if (ch == '\\') ch = '/';
        return fs::path(s.empty() ? "/" : s);
#endif
    }

    std::unique_ptr<Os> os_;
    VolumeReader reader_;
    fs::path setupFolder_;
    std::string dataFolder_;
};

class Walker {
public:
    Walker(const fs::path& dir, std::ostream& out, bool unpack, const Manifest* against, fs::path shippedSetup = {})
        : os_(MakeOs()), reader_(*os_), out_(out), unpack_(unpack), against_(against),
          shippedSetup_(std::move(shippedSetup)) {
        setupFolder_ = FindSetupFolder(dir);
        dataFolder_ = OsPath(setupFolder_);
        reader_.SetFindVolume([this](std::uint32_t k) { return FindContinuation(k); });
        temp_ = fs::temp_directory_path() / ("mksetup-" + std::to_string(Pid()));
        std::error_code ec;
        fs::create_directories(temp_, ec);
    }
    ~Walker() {
        std::error_code ec;
        fs::remove_all(temp_, ec);
    }

    int Run() {
        out_ << "package: " << setupFolder_.string() << "\n";
        SetupScript script;
        if (!script.LoadScript(*os_, true, "", dataFolder_)) {
            Problem("setup.inf is missing, too short, or has the wrong magic, version or counts");
        } else {
            PrintScript("setup.inf", script.First(), true);
            Compare("setup.inf", script.First(), against_ ? &against_->script : nullptr);
        }
        std::string label;
        WalkMain(label);
        if (!label.empty()) WalkLinked(label, script);
        if (unpack_) CheckVouch();
        if (problems_ == 0) out_ << "problems: none\n";
        else out_ << "problems: " << problems_ << "\n";
        return problems_;
    }

private:
    static long Pid() {
#ifdef _WIN32
        return static_cast<long>(GetCurrentProcessId());
#else
        return static_cast<long>(getpid());
#endif
    }

    // The block of the package's setup.exe, and with a filled one every file
    // and cabinet it vouches for; against the shipped program when given.
    void CheckVouch() {
        fs::path program = setupFolder_ / "setup.exe";
        std::vector<unsigned char> image;
        std::error_code ec;
        if (!fs::exists(program, ec)) {
            out_ << "digest block: no setup.exe\n";
            return;
        }
        DigestBlock block;
        std::string error;
        if (!ReadBytes(program, image) || !ReadDigestBlock(image, block, error)) {
            Problem("setup.exe: " + (error.empty() ? std::string("cannot be read") : error));
            return;
        }
        if (!shippedSetup_.empty()) CompareWithShipped(image);
        if (!block.filled) {
            out_ << "digest block: empty (the package is not signed: nothing in it is vouched for)\n";
            return;
        }
        PackageDigests d;
        DigestBlock want;
        if (!ComputePackageDigests(setupFolder_, d, error) || !BlockForPackage(d, want, error)) {
            Problem("digest block: " + error);
            return;
        }
        int before = problems_;
        for (unsigned i = 0; i < static_cast<unsigned>(VouchedFile::Count); ++i) {
            VouchedFile f = static_cast<VouchedFile>(i);
            std::string name = kVouchedFileNames[i];
            if (block.Has(f) && !want.Has(f)) Problem(name + " is vouched for by setup.exe but missing");
            else if (!block.Has(f) && want.Has(f)) Problem(name + " is not vouched for by setup.exe, which refuses it");
            else if (block.Has(f) && block.Of(f) != want.Of(f)) Problem(name + " differs from setup.exe's digest block");
        }
        std::vector<unsigned char> listBytes;
        DigestList listed;
        if (!ReadBytes(setupFolder_ / kDigestListName, listBytes) ||
            !ParseDigestList(std::string_view(reinterpret_cast<const char*>(listBytes.data()), listBytes.size()), listed)) {
            Problem(std::string(kDigestListName) + " is missing or not a digest list");
        } else {
            for (const DigestListSet& s : d.list.sets) {
                const DigestListSet* l = listed.FindSet(s.setType);
                if (!l || l->cabinetCount != s.cabinetCount || l->header != s.header)
                    Problem("the header of " + VolumeFileName(s.setType, 0) + " differs from " + kDigestListName);
            }
            if (listed.sets.size() != d.list.sets.size()) Problem(std::string(kDigestListName) + " lists another number of sets");
            for (const DigestListCabinet& c : d.list.cabinets) {
                const DigestListCabinet* l = listed.FindCabinet(c.number);
                std::string where = "cabinet " + std::to_string(c.number) + " (" +
                                    VolumeFileName(c.number >= kFirstLinkedCabinet ? kSetTypeLinked : kSetTypeMain, c.volume) +
                                    " @" + std::to_string(c.offset) + ")";
                if (!l) Problem(where + " is not in " + kDigestListName);
                else if (l->record != c.record) Problem(where + ": its record differs from " + kDigestListName);
                else if (l->size != c.size || l->cabinet != c.cabinet) Problem(where + ": its bytes differ from " + kDigestListName);
            }
        }
        if (problems_ == before)
            out_ << "digest block: filled; setup.inf, " << d.list.cabinets.size()
                 << " cabinets and every other file it names match\n";
    }

    // The package's setup.exe must be the shipped one with, at most, a filled
    // digest block and a signature added.
    void CompareWithShipped(const std::vector<unsigned char>& image) {
        std::vector<unsigned char> shipped;
        std::string error;
        std::size_t at = 0, shippedAt = 0;
        if (!ReadBytes(shippedSetup_, shipped) || !FindDigestBlock(shipped.data(), shipped.size(), shippedAt, error)) {
            Problem("the shipped " + shippedSetup_.string() + " cannot be read or has no digest block");
            return;
        }
        std::vector<unsigned char> emptied = image;
        if (!FindDigestBlock(emptied.data(), emptied.size(), at, error) || at != shippedAt) {
            Problem("setup.exe is not the shipped " + shippedSetup_.string());
            return;
        }
        bool filled = !std::all_of(emptied.begin() + static_cast<std::ptrdiff_t>(at + kDigestMarkerSize),
                                   emptied.begin() + static_cast<std::ptrdiff_t>(at + kDigestBlockSize),
                                   [](unsigned char b) { return b == 0; });
        std::fill(emptied.begin() + static_cast<std::ptrdiff_t>(at + kDigestMarkerSize),
                  emptied.begin() + static_cast<std::ptrdiff_t>(at + kDigestBlockSize), 0);
        bool same = emptied == shipped && !filled;
        if (!same && filled) same = SameBytesSigned(emptied, shipped);
        if (!same)
            Problem("setup.exe differs from the shipped " + shippedSetup_.string() +
                    " in more than a filled digest block and a signature");
    }

    void Problem(const std::string& what) {
        ++problems_;
        out_ << "PROBLEM: " << what << "\n";
    }

    void PrintScript(const char* name, const ScriptHalf& s, bool header) {
        const ScriptHeader& h = s.header;
        out_ << name << ": setupKind " << h.setupKind << ", " << s.registry.size() << " registry, "
             << s.shortcuts.size() << " shortcut, " << s.programs.size() << " program records\n";
        if (header) {
            const std::pair<const char*, const std::string*> rows[] = {
                {"companyName", &h.companyName},           {"modelName", &h.modelName},
                {"modelVersion", &h.modelVersion},         {"defaultTargetDir", &h.defaultTargetDir},
                {"mainModuleSource", &h.mainModuleSource}, {"mainModuleTarget", &h.mainModuleTarget},
                {"windowTitle", &h.windowTitle},           {"displayName", &h.displayName},
                {"uninstallKey", &h.uninstallKey},         {"versionFromVolume", &h.versionFromVolume},
                {"requiredVersion", &h.requiredVersion},   {"finishOptions", &h.finishOptions},
            };
            for (const auto& [key, value] : rows) out_ << "  " << std::left << std::setw(18) << key << ": " << *value << "\n";
        } else {
            out_ << "  finishOptions     : " << h.finishOptions << "\n";
        }
        for (std::size_t i = 0; i < s.registry.size(); ++i) {
            const RegistryRecord& r = s.registry[i];
            out_ << "  registry[" << i << "]: " << r.keyPath << " \"" << r.valueName << "\" = ";
            if (r.valueType == 1) out_ << "number " << r.Number() << "\n";
            else if (r.valueType == 2) out_ << "text \"" << r.Text() << "\"\n";
            else out_ << "type " << r.valueType << " (fails when installed)\n";
        }
        for (std::size_t i = 0; i < s.shortcuts.size(); ++i) {
            const ShortcutRecord& r = s.shortcuts[i];
            out_ << "  shortcut[" << i << "]: " << r.linkFolder << "\\" << r.name << ".lnk -> " << r.targetPath
                 << " (icon " << r.iconPath << "," << r.iconIndex << ")\n";
        }
        for (std::size_t i = 0; i < s.programs.size(); ++i) {
            const ProgramRecord& r = s.programs[i];
            out_ << "  program[" << i << "]: action " << r.action << ", " << r.programPath << " " << r.arguments
                 << ", show " << r.showCommand << (r.waitForExit ? ", waits" : "") << "\n";
        }
    }

    void Compare(const char* name, const ScriptHalf& got, const ScriptHalf* want) {
        if (!want) return;
        std::vector<unsigned char> a, b;
        WriteScript(got, a);
        WriteScript(*want, b);
        if (a != b) Problem(std::string(name) + " differs from what the manifest describes");
    }

    std::string Here() const {
        return VolumeFileName(reader_.CurrentHeader().setType, reader_.VolumeIndex()) + " @" +
               std::to_string(reader_.Offset());
    }

    // Volume k of the open set, in the places setup.exe looks without asking.
    std::string FindContinuation(std::uint32_t k) {
        std::string name, path = FindVolumeWithoutAsking(reader_, os_->Mbcs(), dataFolder_, k, &name);
        if (path.empty()) missing_ = name;
        return path;
    }

    void WalkMain(std::string& label) {
        VolumePlaces p = PlacesOfVolume(os_->Mbcs(), dataFolder_, kSetTypeMain, 0);
        if (!reader_.IsVolumeFile(p.first) || !reader_.OpenVolume(p.first)) {
            Problem("Data.dat is missing or is not a first volume with format 0x1100");
            return;
        }
        label = reader_.CurrentHeader().label;
        WalkSet("main set", 0, against_ ? &against_->files : nullptr);
    }

    void WalkLinked(const std::string& label, SetupScript& script) {
        VolumePlaces p = PlacesOfVolume(os_->Mbcs(), dataFolder_, kSetTypeLinked, 0);
        std::string path;
        if (reader_.IsLinkedVolumeFile(label, p.first)) {
            path = p.first;
        } else if (reader_.IsLinkedVolumeFile(label, p.second)) {
            path = p.second;
            dataFolder_ = p.secondFolder;
        }
        std::string version;
        if (path.empty() || !reader_.OpenVolume(path, &version)) {
            Problem("the main set names the linked set \"" + label + "\", but no Data-A.dat with that label opens");
            return;
        }
        // Data.inf lies beside the first volume, wherever the set goes on to.
        std::string firstFolder = dataFolder_;
        out_ << "volume version: " << version << "\n";
        if (against_ && version != against_->linked.volumeVersion) Problem("the volume version differs from the manifest's");
        WalkSet("linked set", kFirstLinkedCabinet, against_ ? &against_->linked.files : nullptr);
        if (script.LoadScript(*os_, false, firstFolder, "")) {
            PrintScript("Data.inf", script.Second(), false);
            Compare("Data.inf", script.Second(), against_ ? &against_->linked.script : nullptr);
        } else {
            Problem("Data.inf beside the linked set's first volume is missing or invalid");
        }
    }

    void WalkSet(const char* name, std::uint32_t firstNumber, const std::vector<PackageFile>* files) {
        const VolumeHeader h = reader_.CurrentHeader();
        out_ << name << ": setType " << h.setType << ", label \"" << h.label << "\", " << h.cabinetCount
             << " cabinets, spanId " << Hex(h.spanId) << ", format " << Hex(h.formatVersion) << "\n";
        if (files && files->size() != h.cabinetCount)
            Problem(std::string(name) + " holds " + std::to_string(h.cabinetCount) + " cabinets; the manifest names " +
                    std::to_string(files->size()) + " files");
        std::uint64_t unpackedBytes = 0;
        for (std::uint32_t i = 0; i < h.cabinetCount; ++i) {
            std::string at = Here();
            CabinetRecord r;
            missing_.clear();
            if (!reader_.ReadCabinetRecord(r)) {
                Problem(std::string(name) + ": record " + std::to_string(i) + " at " + at + " cannot be read" +
                        (missing_.empty() ? " (the stream ends early)" : "; " + missing_ + " is not found"));
                return;
            }
            out_ << "  #" << i << " cabinet " << r.cabinetNumber << " at " << at << ": " << r.cabinetSize << " -> "
                 << r.fileSize << " bytes, " << ReplaceName(r.replaceMode) << ", " << r.targetPath << "\n";
            if (r.cabinetNumber != firstNumber + i)
                Problem("cabinet number " + std::to_string(r.cabinetNumber) + " out of sequence; expected " +
                        std::to_string(firstNumber + i));
            if (r.replaceMode != ReplaceAlways && r.replaceMode != ReplaceIfSizeDiffers && r.replaceMode != KeepExisting)
                Problem("record " + std::to_string(i) + " has replace mode " + Hex(r.replaceMode));
            const PackageFile* want = files && i < files->size() ? &(*files)[i] : nullptr;
            if (want && (want->target != r.targetPath || want->replaceMode != r.replaceMode))
                Problem("record " + std::to_string(i) + " differs from the manifest's file at line " +
                        std::to_string(want->line));
            fs::path cabinet = temp_ / "cabinet.cab";
            if (!reader_.CopyCabinetData(r, OsPath(cabinet), unpack_)) {
                Problem("the cabinet of record " + std::to_string(i) + " cannot be read" +
                        (missing_.empty() ? "" : "; " + missing_ + " is not found"));
                return;
            }
            if (unpack_ && !CheckCabinet(r, cabinet, want, i)) continue;
            unpackedBytes += r.fileSize;
        }
        if (reader_.Offset() != reader_.VolumeLength())
            Problem(std::string(name) + " has " + std::to_string(reader_.VolumeLength() - reader_.Offset()) +
                    " bytes after its last cabinet in " + Here());
        VolumePlaces next = PlacesOfVolume(os_->Mbcs(), dataFolder_, h.setType, reader_.VolumeIndex() + 1);
        if (h.spanId != 0 && (reader_.IsContinuationFile(next.first, reader_.VolumeIndex() + 1) ||
                              reader_.IsContinuationFile(next.second, reader_.VolumeIndex() + 1)))
            Problem(std::string(name) + " ends before " + next.name + ", which continues it");
        out_ << name << ": " << reader_.VolumeIndex() + 1 << " volume(s)";
        if (unpack_) out_ << ", " << unpackedBytes << " bytes unpacked and checked";
        out_ << "\n";
    }

    bool CheckCabinet(const CabinetRecord& r, const fs::path& cabinet, const PackageFile* want, std::uint32_t i) {
        fs::path file = temp_ / "file";
        std::error_code ec;
        fs::remove(file, ec);
        std::string error;
        std::string which = "record " + std::to_string(i) + " (" + r.targetPath + ")";
        if (r.cabinetSize == 0) {
            if (r.fileSize != 0) Problem(which + " has no cabinet but a size of " + std::to_string(r.fileSize));
            std::ofstream(file, std::ios::binary).flush();
        } else if (!UnpackSingleFile(cabinet, file, error)) {
            Problem(which + ": " + error);
            return false;
        }
        std::uint64_t size = fs::file_size(file, ec);
        if (size != r.fileSize) {
            Problem(which + " unpacks to " + std::to_string(size) + " bytes; the record says " + std::to_string(r.fileSize));
            return false;
        }
        if (want) {
            std::ifstream a(file, std::ios::binary), b(want->source, std::ios::binary);
            if (!std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}) &&
                !(want->mayBeSigned && SameProgramSigned(file, want->source)))
                Problem(which + " differs from " + want->source.string());
        }
        return true;
    }

    std::unique_ptr<Os> os_;
    VolumeReader reader_;
    std::ostream& out_;
    bool unpack_;
    const Manifest* against_;
    fs::path shippedSetup_;
    fs::path setupFolder_, temp_;
    std::string dataFolder_, missing_;
    int problems_ = 0;
};

}  // namespace

bool ComputePackageDigests(const fs::path& dir, PackageDigests& out, std::string& error) {
    return DigestWalker(dir).Run(out, error);
}

bool BlockForPackage(const PackageDigests& d, DigestBlock& block, std::string& error) {
    block = DigestBlock{};
    block.filled = true;
    const std::pair<VouchedFile, fs::path> files[] = {
        {VouchedFile::SetupInf, d.setupFolder / "setup.inf"},   {VouchedFile::DataInf, d.dataInf},
        {VouchedFile::License, d.setupFolder / "license.txt"},  {VouchedFile::Picture, d.setupFolder / "setup.bmp"},
        {VouchedFile::DigestList, d.setupFolder / kDigestListName}};
    for (const auto& [which, path] : files) {
        std::error_code ec;
        if (path.empty() || !fs::exists(path, ec)) continue;
        std::vector<unsigned char> bytes;
        if (!ReadBytes(path, bytes)) {
            error = "cannot read " + path.string();
            return false;
        }
        block.Set(which, DigestOf(bytes.data(), bytes.size()));
    }
    if (!block.Has(VouchedFile::SetupInf) || !block.Has(VouchedFile::DigestList)) {
        error = "the package has no setup.inf or setup.sha to vouch for";
        return false;
    }
    return true;
}

bool VouchForPackage(const fs::path& dir, std::string& error) {
    PackageDigests d;
    if (!ComputePackageDigests(dir, d, error)) return false;
    fs::path list = d.setupFolder / kDigestListName, program = d.setupFolder / "setup.exe";
    std::string text = WriteDigestList(d.list);
    {
        std::ofstream out(list, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out.flush()) {
            error = "cannot write " + list.string();
            return false;
        }
    }
    DigestBlock block;
    std::vector<unsigned char> image;
    if (!BlockForPackage(d, block, error)) return false;
    if (!ReadBytes(program, image)) {
        error = "cannot read " + program.string();
        return false;
    }
    if (!FillDigestBlock(image, block, error)) {
        error = program.string() + ": " + error;
        return false;
    }
    std::ofstream out(program, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!out.flush()) {
        error = "cannot write " + program.string();
        return false;
    }
    return true;
}

int InspectPackage(const fs::path& dir, std::ostream& out) { return Walker(dir, out, false, nullptr).Run(); }

int VerifyPackage(const fs::path& dir, const Manifest* against, std::ostream& out, const fs::path& shippedSetup) {
    return Walker(dir, out, true, against, shippedSetup).Run();
}

}  // namespace mksetup

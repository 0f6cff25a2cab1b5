// Any bytes as a cabinet in its container: the first input byte cuts the
// container short of the bytes (below 128) or makes it claim more than
// there are (128 and up), so cut cabinets and dry sources are reached. The
// reader must never crash, hang or read outside its buffers, and a file it
// decodes to the end is exactly as long as the header says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <algorithm>

#include "formats/cabinet_reader.h"

namespace {

class Source : public cabsetup::CabinetSource {
public:
    Source(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Read(unsigned char* buffer, std::size_t size) override {
        if (size > size_ - at_) return false;
        for (std::size_t i = 0; i < size; ++i) buffer[i] = data_[at_ + i];
        at_ += size;
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_, at_ = 0;
};

class Counter : public cabsetup::CabinetSink {
public:
    bool Write(const unsigned char* data, std::size_t size) override {
        // Touch every byte handed out: ASan sees a read outside the buffer.
        for (std::size_t i = 0; i < size; ++i) sum_ += data[i];
        written += size;
        return true;
    }
    std::uint64_t written = 0;

private:
    unsigned sum_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::size_t bytes = size - 1;
    std::size_t container = data[0] < 128 ? bytes - std::min<std::size_t>(data[0], bytes) : bytes + (data[0] - 128);
    Source source(data + 1, bytes);
    // One reader for every input, as the engine keeps one for every file.
    static cabsetup::CabinetReader reader;
    if (reader.ReadHeader(source, static_cast<std::uint32_t>(container)) != cabsetup::CabinetShape::OneFile) return 0;
    Counter sink;
    if (reader.Decode(source, &sink) && sink.written != reader.FileSize()) std::abort();
    return 0;
}

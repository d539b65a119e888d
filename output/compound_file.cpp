// SPDX-License-Identifier: MIT
#include "output/compound_file.h"

#include <algorithm>
#include <stdexcept>

namespace ck::output {
namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kIdsPerSector = kSector / 4;
constexpr std::size_t kHeaderFatSlots = 109;
// A DIFAT sector's last slot links to the next one.
constexpr std::size_t kDifatIdsPerSector = kIdsPerSector - 1;
constexpr std::size_t kDirEntry = 128;

constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

constexpr uint8_t kTypeStream = 2;
constexpr uint8_t kTypeRoot = 5;
constexpr uint8_t kBlack = 1;

// Writes into a buffer sized up front; at() keeps every write inside it.
class Out {
public:
    explicit Out(std::vector<uint8_t>& buf) : buf_(buf) {}
    void u8(std::size_t pos, uint8_t v) { buf_.at(pos) = v; }
    void u16(std::size_t pos, uint16_t v) {
        u8(pos, static_cast<uint8_t>(v));
        u8(pos + 1, static_cast<uint8_t>(v >> 8));
    }
    void u32(std::size_t pos, uint32_t v) {
        u16(pos, static_cast<uint16_t>(v));
        u16(pos + 2, static_cast<uint16_t>(v >> 16));
    }

private:
    std::vector<uint8_t>& buf_;
};

std::size_t SectorPos(std::size_t sector) { return (sector + 1) * kSector; }

void WriteDirEntry(Out& out, std::size_t pos, std::u16string_view name, uint8_t type,
                   uint32_t child, uint32_t start, uint32_t size) {
    for (std::size_t i = 0; i < name.size(); ++i) out.u16(pos + 2 * i, name[i]);
    // The length counts the terminating null, which the zeroed buffer already holds.
    out.u16(pos + 64, static_cast<uint16_t>((name.size() + 1) * 2));
    out.u8(pos + 66, type);
    out.u8(pos + 67, kBlack);
    out.u32(pos + 68, kNoStream);
    out.u32(pos + 72, kNoStream);
    out.u32(pos + 76, child);
    out.u32(pos + 116, start);
    out.u32(pos + 120, size);
}

void WriteUnusedDirEntry(Out& out, std::size_t pos) {
    out.u32(pos + 68, kNoStream);
    out.u32(pos + 72, kNoStream);
    out.u32(pos + 76, kNoStream);
}

}  // namespace

std::vector<uint8_t> WriteCompoundFile(std::u16string_view name, std::span<const uint8_t> stream) {
    if (name.empty() || name.size() > 31) {
        throw std::invalid_argument("compound file: stream name must be 1 to 31 characters");
    }
    if (stream.size() < kMiniStreamCutoff) {
        throw std::invalid_argument("compound file: stream below the mini-stream cutoff");
    }
    if (stream.size() > kMaxStreamSize) {
        throw std::length_error("compound file: stream too large");
    }

    // Sector order: FAT, DIFAT, directory, stream. The FAT must also map its own sectors and
    // the DIFAT's, so grow it until it covers everything.
    const std::size_t streamSectors = (stream.size() + kSector - 1) / kSector;
    std::size_t fat = 1;
    std::size_t difat = 0;
    for (;;) {
        difat = fat > kHeaderFatSlots
                    ? (fat - kHeaderFatSlots + kDifatIdsPerSector - 1) / kDifatIdsPerSector
                    : 0;
        if (fat + difat + 1 + streamSectors <= fat * kIdsPerSector) break;
        ++fat;
    }
    const std::size_t dirSector = fat + difat;
    const std::size_t firstStreamSector = dirSector + 1;
    const std::size_t sectors = firstStreamSector + streamSectors;

    std::vector<uint8_t> file(SectorPos(sectors), 0);
    Out out(file);

    // Header.
    static constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(kSignature), std::end(kSignature), file.begin());
    out.u16(24, 0x003E);  // minor version
    out.u16(26, 0x0003);  // major version: 512-byte sectors
    out.u16(28, 0xFFFE);  // little-endian
    out.u16(30, 9);       // sector shift
    out.u16(32, 6);       // mini sector shift
    // 40: directory sector count stays 0, as version 3 requires.
    out.u32(44, static_cast<uint32_t>(fat));
    out.u32(48, static_cast<uint32_t>(dirSector));
    out.u32(56, static_cast<uint32_t>(kMiniStreamCutoff));
    out.u32(60, kEndOfChain);  // no mini FAT
    out.u32(68, difat > 0 ? static_cast<uint32_t>(fat) : kEndOfChain);
    out.u32(72, static_cast<uint32_t>(difat));
    for (std::size_t i = 0; i < kHeaderFatSlots; ++i) {
        out.u32(76 + 4 * i, i < fat ? static_cast<uint32_t>(i) : kFreeSect);
    }

    // FAT: every slot of its last sector past the used ones is free.
    std::vector<uint32_t> table(fat * kIdsPerSector, kFreeSect);
    std::fill_n(table.begin(), fat, kFatSect);
    std::fill_n(table.begin() + static_cast<std::ptrdiff_t>(fat), difat, kDifSect);
    table.at(dirSector) = kEndOfChain;
    for (std::size_t s = firstStreamSector; s < sectors; ++s) {
        table.at(s) = s + 1 < sectors ? static_cast<uint32_t>(s + 1) : kEndOfChain;
    }
    for (std::size_t i = 0; i < table.size(); ++i) out.u32(SectorPos(0) + 4 * i, table[i]);

    // DIFAT sectors: the FAT sectors the header has no room for, then the link onwards.
    for (std::size_t d = 0; d < difat; ++d) {
        const std::size_t pos = SectorPos(fat + d);
        for (std::size_t i = 0; i < kDifatIdsPerSector; ++i) {
            const std::size_t fatIndex = kHeaderFatSlots + d * kDifatIdsPerSector + i;
            out.u32(pos + 4 * i, fatIndex < fat ? static_cast<uint32_t>(fatIndex) : kFreeSect);
        }
        out.u32(pos + 4 * kDifatIdsPerSector,
                d + 1 < difat ? static_cast<uint32_t>(fat + d + 1) : kEndOfChain);
    }

    // Directory: the root has no mini stream; the stream is its only child.
    const std::size_t dirPos = SectorPos(dirSector);
    WriteDirEntry(out, dirPos, u"Root Entry", kTypeRoot, 1, kEndOfChain, 0);
    WriteDirEntry(out, dirPos + kDirEntry, name, kTypeStream, kNoStream,
                  static_cast<uint32_t>(firstStreamSector), static_cast<uint32_t>(stream.size()));
    for (std::size_t e = 2; e < kSector / kDirEntry; ++e) {
        WriteUnusedDirEntry(out, dirPos + e * kDirEntry);
    }

    // The stream is contiguous; its last sector is zero-padded by the buffer.
    std::copy(stream.begin(), stream.end(),
              file.begin() + static_cast<std::ptrdiff_t>(SectorPos(firstStreamSector)));
    return file;
}

}  // namespace ck::output

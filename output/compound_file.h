// SPDX-License-Identifier: MIT
#pragma once
// A compound file (OLE2 structured storage, version 3, 512-byte sectors) holding one stream
// under the root storage: the container of an Excel 97-2003 workbook.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ck::output {

// Streams shorter than this belong in the mini stream, which this writer does not produce;
// callers pad their stream up to it.
inline constexpr std::size_t kMiniStreamCutoff = 4096;
// The largest stream a version 3 file may hold.
inline constexpr std::size_t kMaxStreamSize = 0x7FFFFFFF;

// The whole file: header, FAT (with DIFAT sectors once the FAT outgrows the header's 109
// slots), one directory sector (Root Entry and `name`) and the stream's sectors.
// Throws std::invalid_argument when `name` is empty or longer than 31 UTF-16 units, or when
// `stream` is shorter than kMiniStreamCutoff; std::length_error when it is above
// kMaxStreamSize.
std::vector<uint8_t> WriteCompoundFile(std::u16string_view name, std::span<const uint8_t> stream);

}  // namespace ck::output

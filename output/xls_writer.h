// SPDX-License-Identifier: MIT
#pragma once
// Excel 97-2003 workbooks (.xls, BIFF8 in a compound file) holding one sheet of texts, every
// cell centred. Standard library only; the caller writes the bytes to disk.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ck::output {

// What the format can address.
inline constexpr std::size_t kXlsMaxRows = 65536;
inline constexpr std::size_t kXlsMaxColumns = 256;
// Excel's limit on a cell's text, in UTF-16 units.
inline constexpr std::size_t kXlsMaxTextUnits = 32767;
// Largest data part of one record; longer data goes on in CONTINUE records.
inline constexpr std::size_t kBiffMaxRecordData = 8224;

struct XlsOptions {
    // UTF-8; 1 to 31 characters, none of : \ / ? * [ ], not starting or ending with '.
    std::string sheetName = "Sheet1";
};

// The bytes of a workbook with one worksheet: cell (r, c) holds rows[r][c] (UTF-8) as text,
// horizontally centred. Rows may differ in length; a row's missing trailing cells are not
// written. An empty text becomes a blank cell that keeps the centred format, as the
// spreadsheet itself stores a cell whose value was cleared. Invalid UTF-8 reads as U+FFFD.
// Throws std::length_error when the table exceeds kXlsMaxRows, kXlsMaxColumns or
// kXlsMaxTextUnits (or the file would pass 2 GB), std::invalid_argument for a bad sheet name.
std::vector<uint8_t> WriteXls(const std::vector<std::vector<std::string>>& rows,
                              const XlsOptions& options = {});

// UTF-8 to UTF-16; characters outside the BMP become surrogate pairs. Each maximal ill-formed
// subsequence (a truncated sequence, a stray continuation byte, an overlong form, an encoded
// surrogate, a value above U+10FFFF) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace ck::output

// SPDX-License-Identifier: MIT
#pragma once
// Text laid out on fixed character columns, as the saved text files and the printed reports
// are: text, runs of spaces, moves to a start column, and CR LF line breaks. Columns count
// from 1 and advance by a character's width in code page 936: one for ASCII, two for a
// Chinese character, so the files line up in a fixed-width editor.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ck::output {

// Columns `utf8` takes: 1 per ASCII character, 2 per any other character.
int TextWidth(std::string_view utf8);

class ColumnWriter {
public:
    void text(std::string_view utf8);
    void spaces(int n);
    // Move to column n: pad with spaces, or, past it already, break the line and pad to n.
    void position(int n);
    void crlf();

    int column() const { return column_; }

    // Everything written, UTF-8 with CR LF line breaks.
    const std::string& str() const { return out_; }
    // The same split into lines (without their CR LF); a final line without CR LF is kept.
    std::vector<std::string> lines() const;

private:
    std::string out_;
    int column_ = 1;
};

// UTF-8 to code page 936 (GBK); nullopt when a character has no GBK form.
std::optional<std::string> ToGbk(std::string_view utf8);

}  // namespace ck::output

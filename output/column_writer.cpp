// SPDX-License-Identifier: MIT
#include "output/column_writer.h"

#include "platform/code_page.h"

namespace ck::output {

int TextWidth(std::string_view utf8) {
    int width = 0;
    for (unsigned char c : utf8) {
        if (c < 0x80) {
            ++width;
        } else if ((c & 0xC0) != 0x80) {
            width += 2;  // the lead byte of a multi-byte character
        }
    }
    return width;
}

void ColumnWriter::text(std::string_view utf8) {
    out_.append(utf8);
    column_ += TextWidth(utf8);
}

void ColumnWriter::spaces(int n) {
    if (n <= 0) return;
    out_.append(static_cast<std::size_t>(n), ' ');
    column_ += n;
}

void ColumnWriter::position(int n) {
    if (column_ > n) {
        crlf();
        spaces(n - 1);
    } else {
        spaces(n - column_);
    }
}

void ColumnWriter::crlf() {
    out_.append("\r\n");
    column_ = 1;
}

std::vector<std::string> ColumnWriter::lines() const {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t at = out_.find("\r\n"); at != std::string::npos;
         at = out_.find("\r\n", from)) {
        out.push_back(out_.substr(from, at - from));
        from = at + 2;
    }
    if (from < out_.size()) out.push_back(out_.substr(from));
    return out;
}

std::optional<std::string> ToGbk(std::string_view utf8) { return platform::Utf8ToCp936(utf8); }

}  // namespace ck::output

// SPDX-License-Identifier: MIT
#pragma once
// The printer on QPrinter: fixed-column report text drawn character by character on a grid,
// so the columns line up whatever the font's own metrics.

#include <QFont>
#include <QPrinter>

#include <string>

#include "platform/services.h"

namespace ck::platform {

// Point size for a document whose widest line takes `columns` columns, on a printable width of
// `printableWidth` in the same unit as `cellAtMax` (the width of one column, i.e. of a Latin
// character, at kMaxReportPoints): the largest size up to kMaxReportPoints at which the widest
// line still fits. A document with no visible text gets the maximum.
double ReportPointSize(int columns, double printableWidth, double cellAtMax);

// Short reports are not blown up past this; long lines shrink below it to fit the page.
inline constexpr double kMaxReportPoints = 10.0;

class QtPrinterService final : public PrinterService {
public:
    // `font` gives the typeface, fixed pitch with Chinese glyphs twice as wide as Latin ones;
    // its size is chosen for each document. Needs the GUI application to exist.
    explicit QtPrinterService(const QFont& font);
    QtPrinterService(const QtPrinterService&) = delete;
    QtPrinterService& operator=(const QtPrinterService&) = delete;

    // The printer the print dialog configures and every report goes to.
    QPrinter& printer() { return printer_; }

    std::string printText(const std::string& utf8, Orientation orientation,
                          int startTwips) override;

private:
    QPrinter printer_{QPrinter::HighResolution};
    QFont font_;
};

}  // namespace ck::platform

// SPDX-License-Identifier: MIT
#pragma once
// The phasing record a technician hands in (核相报告): the fields of the job, each reading with
// its voltages, angles, verdicts, phasor diagram and conclusion, and the signature lines. Made
// from typed readings only, and laid out once for every paged device: a PDF or a printer.

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "measure/conclusion.h"
#include "measure/measurement.h"

class QPagedPaintDevice;

namespace ck::views {

enum class ReportField : uint8_t {
    WorkUnit,
    Place,
    FirstGroup,
    SecondGroup,
    VoltageLevel,
    InstrumentNo,
    Operator,
    Supervisor,
    Remarks,
};
inline constexpr std::size_t kReportFieldCount = 9;

// The field's name as the dialog and the page show it ("工作单位").
QString ReportFieldLabel(ReportField f);
// The key it is remembered under between runs ("workUnit").
QString ReportFieldKey(ReportField f);

// One reading in the report: the live reading, or a group stored in the instrument.
struct ReportReading {
    measure::MeasurementGroup group;
    int groupNumber = 0;  // a stored group's number, from 1; 0 for the live reading
    QDateTime time;       // when the panel showed it, or when the group was downloaded
    int port = 0;         // the COM number it came from; 0 when unknown

    bool stored() const { return groupNumber > 0; }
};

struct PhasingReport {
    std::array<QString, kReportFieldCount> fields;
    std::vector<ReportReading> readings;
    QDateTime made;
};

// The colour a finding is shown in: green, red, and amber for one that cannot be made.
QColor FindingColour(measure::Finding f);

// Paints the report on the device's pages as the device's page layout gives them (A4 for the
// PDF), starting on its current page. Returns an empty text, or why the device failed.
QString PaintPhasingReport(QPagedPaintDevice& device, const PhasingReport& report);

// The report as a PDF: A4 portrait, vector graphics, every font embedded. Empty, with `error`
// set, when it could not be made.
QByteArray PhasingReportPdf(const PhasingReport& report, QString* error = nullptr);

// The A4 page layout of the report, for a printer too.
void UseReportPageLayout(QPagedPaintDevice& device);

}  // namespace ck::views

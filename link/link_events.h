// SPDX-License-Identifier: MIT
#pragma once
// What the link tells whoever shows it: the phase it has entered, the two status texts, the
// download's progress, the readings (already decoded: nothing above the link sees frame
// bytes), that nothing is stored, and a refused permission. The window implements it and
// decides what each of these means for its controls; tests record it. The link knows no
// control.

#include <cstdint>
#include <span>
#include <string>

#include "link/link_state.h"
#include "measure/measurement.h"
#include "platform/serial_port.h"

namespace ck::link {

// The phases the window's controls follow, each reported as the link enters it.
enum class Phase : uint8_t {
    Searching,      // start-up: no instrument has answered yet
    Linked,         // discovery has found the instrument and polling begins
    DownloadAsked,  // the read command was taken: polling stops, the download starts as soon
                    // as no reply is awaited
    Downloading,    // the count came: the blocks are being fetched
    DownloadEnded,  // every block is in, or the instrument holds none
    TimedOut,       // a request went unanswered; a download that ran has ended
};

class LinkEvents {
public:
    virtual ~LinkEvents() = default;

    // `state` is the record as it stands on entering the phase.
    virtual void phaseChanged(Phase phase, const LinkState& state) = 0;
    virtual void setComStatus(const std::string& text) = 0;   // LabComsta
    virtual void setLinkStatus(const std::string& text) = 0;  // Lab_rtsta
    // `done` of `total` groups of the download are in.
    virtual void setProgress(int done, int total) = 0;

    // Every accepted live reading that decodes; one that does not is never handed up.
    virtual void ShowReal(const measure::MeasurementGroup& reading) = 0;
    // The decoded groups of one history reply: groups[i] is group number firstGroupNumber + i
    // + 1, which is also its table row (firstGroupNumber counts from 0). The block ends before
    // its first group that failed to decode.
    virtual void FillHist(int firstGroupNumber,
                          std::span<const measure::MeasurementGroup> groups) = 0;
    // The instrument reported 0 stored groups. May be modal: polling resumes once it returns.
    virtual void noHistory() = 0;
    // The system refused this user the port COMn; reported for the first refusal of a run
    // only, once the handler that met it has returned.
    virtual void permissionRefused(int16_t comport, const platform::OpenFailure& failure) = 0;
};

}  // namespace ck::link

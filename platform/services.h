// SPDX-License-Identifier: MIT
#pragma once
// The rest of what the save and print commands need from the machine: files, a picture of
// the window, the printer, and a way to tell the user.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ck::platform {

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Where files go by default: "c:\Trandel" on Windows, ~/Trandel elsewhere.
    virtual std::string dataDir() const = 0;
    virtual bool dirExists(const std::string& path) const = 0;
    // Creates the directory and any missing parents; false when it cannot.
    virtual bool makeDir(const std::string& path) = 0;
    // Writes the whole file or nothing: an existing file is replaced only once the new
    // content is safely on disk. Returns an empty text on success, else why it failed.
    virtual std::string writeFile(const std::string& path, const std::vector<uint8_t>& bytes) = 0;
};

class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;
    // The main window as it looks now, as JPEG data; nullopt when it cannot be had.
    virtual std::optional<std::vector<uint8_t>> captureWindow() = 0;
    // Leaves the last capture on the clipboard.
    virtual void copyLastCaptureToClipboard() = 0;
};

enum class Orientation { Portrait = 1, Landscape = 2 };

class PrinterService {
public:
    virtual ~PrinterService() = default;
    // Prints lines of fixed-column text (CR LF breaks; a Chinese character two columns wide)
    // on the printer chosen in the print dialog, starting `startTwips` below the top of the
    // printable area, breaking pages where a line no longer fits, then ends the document.
    // Returns an empty text on success, else why it failed.
    virtual std::string printText(const std::string& utf8, Orientation orientation,
                                  int startTwips) = 0;
};

// Message-box styles.
inline constexpr int kStyleExclamation = 48;
inline constexpr int kStyleInformation = 64;

class UserMessages {
public:
    virtual ~UserMessages() = default;
    // Modal, one OK button; kStyleExclamation or kStyleInformation.
    virtual void show(const std::string& title, const std::string& text, int style) = 0;
    virtual void beep() = 0;
};

}  // namespace ck::platform

// SPDX-License-Identifier: MIT
#include "platform/append_file.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace ck::platform {
namespace {

#ifdef _WIN32

std::wstring wide(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string lastError() {
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n > 0 && text) {
        const int len = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0,
                                            nullptr, nullptr);
        out.resize(static_cast<std::size_t>(len));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), len, nullptr,
                            nullptr);
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
            out.pop_back();
        }
    }
    if (text) LocalFree(text);
    return out.empty() ? "error " + std::to_string(code) : out;
}

class Win32AppendFile final : public AppendFile {
public:
    Win32AppendFile(HANDLE h, bool sync) : h_(h), sync_(sync) {}
    ~Win32AppendFile() override { CloseHandle(h_); }

    std::string append(std::string_view bytes) override {
        LARGE_INTEGER zero{}, before{};
        if (!SetFilePointerEx(h_, zero, &before, FILE_END)) return lastError();
        DWORD written = 0;
        const BOOL ok =
            WriteFile(h_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        std::string why;
        if (!ok || written != bytes.size()) {
            why = ok ? std::string("the disk took only part of the record") : lastError();
        } else if (sync_ && !FlushFileBuffers(h_)) {
            why = lastError();
        }
        if (why.empty()) return why;
        SetFilePointerEx(h_, before, nullptr, FILE_BEGIN);
        SetEndOfFile(h_);
        FlushFileBuffers(h_);
        return why;
    }

private:
    HANDLE h_;
    bool sync_;
};

#else

std::string errorText(int code) { return std::strerror(code); }

void syncFolder(const std::filesystem::path& dir) {
    if (dir.empty()) return;
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

class PosixAppendFile final : public AppendFile {
public:
    PosixAppendFile(int fd, bool sync) : fd_(fd), sync_(sync) {}
    ~PosixAppendFile() override { ::close(fd_); }

    std::string append(std::string_view bytes) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return errorText(errno);
        const off_t before = st.st_size;
        std::size_t done = 0;
        int error = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (error == 0 && sync_ && sync() != 0) error = errno;
        if (error == 0) return {};
        // Take the unfinished record back out, so that nothing appended later follows half a
        // line; whatever happens to the cut, a later run ends an unfinished line itself.
        while (::ftruncate(fd_, before) != 0 && errno == EINTR) {
        }
        sync();
        return errorText(error);
    }

private:
    int sync() const {
#ifdef __APPLE__
        return ::fsync(fd_);
#else
        return ::fdatasync(fd_);
#endif
    }

    int fd_;
    bool sync_;
};

#endif

// Makes the folder `file` goes in when it is missing; the reason when it cannot be there.
std::string makeFolder(const std::filesystem::path& file) {
    if (!file.has_parent_path()) return {};
    const std::filesystem::path dir = file.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (std::filesystem::is_directory(dir)) return {};
    const auto name = dir.u8string();
    return std::string(name.begin(), name.end()) +
           (ec ? ": " + ec.message() : std::string(": not a folder"));
}

#ifdef _WIN32

// The last two bytes at most of a file of `size` bytes: enough to tell whether it ends in CR LF.
bool readTail(HANDLE h, LONGLONG size, std::string& tail) {
    if (size == 0) return true;
    const LONGLONG back = size >= 2 ? 2 : 1;
    LARGE_INTEGER at{};
    at.QuadPart = size - back;
    char bytes[2] = {};
    DWORD got = 0;
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) ||
        !ReadFile(h, bytes, static_cast<DWORD>(back), &got, nullptr)) {
        return false;
    }
    tail.assign(bytes, got);
    return true;
}

OpenedAppendFile openFile(const std::string& path, const std::filesystem::path&, bool sync) {
    OpenedAppendFile out;
    // Others may read the file while it grows (a spreadsheet looking at today's log), but not
    // write to it.
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        out.error = lastError();
        return out;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size) || !readTail(h, size.QuadPart, out.tail)) {
        out.error = lastError();
        CloseHandle(h);
        return out;
    }
    out.size = static_cast<uint64_t>(size.QuadPart);
    out.file = std::make_unique<Win32AppendFile>(h, sync);
    return out;
}

#else

// Opens the file for appending, made when it is missing; -1 with errno on failure.
int openOrCreate(const std::string& path, bool& created) {
    int fd = -1;
    created = true;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != EEXIST) return fd;
    created = false;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The last two bytes at most of a file of `size` bytes: enough to tell whether it ends in CR LF.
bool readTail(int fd, off_t size, std::string& tail) {
    if (size == 0) return true;
    const std::size_t back = size >= 2 ? 2 : 1;
    char bytes[2] = {};
    const ssize_t got = ::pread(fd, bytes, back, size - static_cast<off_t>(back));
    if (got < 0) return false;
    tail.assign(bytes, static_cast<std::size_t>(got));
    return true;
}

OpenedAppendFile openFile(const std::string& path, const std::filesystem::path& file, bool sync) {
    OpenedAppendFile out;
    bool created = false;
    const int fd = openOrCreate(path, created);
    if (fd < 0) {
        out.error = errorText(errno);
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !readTail(fd, st.st_size, out.tail)) {
        out.error = errorText(errno);
        ::close(fd);
        return out;
    }
    out.size = static_cast<uint64_t>(st.st_size);
    if (created && sync) {
        // A new file's name, and the log folder's if it is new too, must be on the disk as
        // well, or a power cut could lose the file with every line in it.
        syncFolder(file.parent_path());
        syncFolder(file.parent_path().parent_path());
    }
    out.file = std::make_unique<PosixAppendFile>(fd, sync);
    return out;
}

#endif

}  // namespace

OpenedAppendFile OpenAppendFile(const std::string& path, const AppendOptions& options) {
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    if (std::string why = options.makeFolders ? makeFolder(file) : std::string(); !why.empty()) {
        OpenedAppendFile out;
        out.error = std::move(why);
        return out;
    }
    return openFile(path, file, options.syncEachRecord);
}

}  // namespace ck::platform

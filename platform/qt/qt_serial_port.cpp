// SPDX-License-Identifier: MIT
#include "platform/qt/qt_serial_port.h"

#include <QMetaObject>

#include <utility>

#include "platform/line.h"
#include "platform/qt/com_resolver.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <cstdio>

namespace ck::platform {

namespace {

// The account this program runs as, as usermod wants it.
std::string userName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr) {
        return pw->pw_name;
    }
    return {};
}

// The group that may open the device: its owning group, unless that is root's (joining it
// would be no answer), or nothing when it cannot be told.
std::string deviceGroup(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_gid == 0) return {};
    if (const group* gr = ::getgrgid(st.st_gid); gr != nullptr && gr->gr_name != nullptr) {
        return gr->gr_name;
    }
    return {};
}

}  // namespace

QtSerialPort::QtSerialPort(SerialIoctl ioctl) : ioctl_(std::move(ioctl)) {
    static_assert(kLineDataBits == 8 && kLineStopBits == 1, "Data8 and OneStop below");
    port_.setBaudRate(static_cast<qint32>(kLineBaud));
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    // Only hand the bytes over; the base class counts them against the threshold and raises
    // the receive event later, from the event loop.
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] {
        const QByteArray bytes = port_.readAll();
        deliver({reinterpret_cast<const uint8_t*>(bytes.constData()),
                 static_cast<std::size_t>(bytes.size())});
    });
}

QtSerialPort::~QtSerialPort() {
    port_.disconnect();
    if (port_.isOpen()) {
        port_.clear(QSerialPort::Output);  // closing must not wait for a stalled line
        port_.close();
    }
}

int QtSerialPort::doOpen(int16_t port) {
    const ComRoute route = routeComOnThisMachine(port);
    if (!route.pinsUnreadable.empty()) {
        // Any number may be pinned in a folder nobody can read: opening the machine's n-th
        // port instead could reach another device.
        if (!pinsReported_) {
            pinsReported_ = true;
            std::fprintf(stderr,
                         "checkkorvelt: cannot read the COM pins (%s); no COM port is opened "
                         "until they can be read\n",
                         route.pinsUnreadable.c_str());
        }
        noteOpenFailure({{}, {}, {}, route.pinsUnreadable});
        return kErrOpenFailed;
    }
    if (!route.device) return kErrNoSuchPort;
    const std::string& path = *route.device;
    port_.setPortName(QString::fromStdString(path));
    if (!port_.open(QIODevice::ReadWrite)) {
        const int err = classifyOpenFailure(path);
        if (err != kErrPermissionDenied) {
            noteOpenFailure({path, {}, {}, port_.errorString().toStdString()});
        }
        return err;
    }
    path_ = path;
#ifdef Q_OS_LINUX
    lowLatency_ = AskLowLatency(static_cast<int>(port_.handle()), ioctl_);
#endif
    // Whatever the device sent before this opening belongs to an exchange that is over; it is
    // handed over all the same, so that it is seen for what it is rather than dropped unseen.
    takeWaiting();
    return kPortOk;
}

bool QtSerialPort::doResume(int16_t port) {
    // A device that failed (an adapter pulled out) or a number that now leads elsewhere is
    // opened anew, so that it is reported as an opening would report it.
    if (!port_.isOpen() || port_.error() != QSerialPort::NoError) return false;
    if (resolveComOnThisMachine(port) != path_) return false;
    // What the device sent while the port was closed belongs to an exchange that is over; it
    // goes the way of what an opening finds.
    takeWaiting();
    return true;
}

int QtSerialPort::classifyOpenFailure(const std::string& path) {
    switch (port_.error()) {
        case QSerialPort::DeviceNotFoundError:
            return kErrNoSuchPort;
        case QSerialPort::PermissionError: {
            // QSerialPort reports a held lock file, an exclusive open (EBUSY) and a refused
            // permission alike; a plain open of the device tells them apart.
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                const int why = errno;
                if (why == EBUSY) return kErrPortInUse;
                if (why == ENOENT) return kErrNoSuchPort;
                if (why == EACCES || why == EPERM) {
                    noteOpenFailure({path, userName(), deviceGroup(path), std::strerror(why)});
                    return kErrPermissionDenied;
                }
                return kErrOpenFailed;
            }
            ::close(fd);
            return kErrPortInUse;  // the device would open: the lock file of another program
        }
        default:
            return kErrOpenFailed;
    }
}

void QtSerialPort::doClose() {
    if (port_.isOpen()) port_.close();
}

bool QtSerialPort::doWrite(std::span<const uint8_t> bytes) {
    if (!port_.isOpen()) return false;
    const auto size = static_cast<qint64>(bytes.size());
    if (port_.write(reinterpret_cast<const char*>(bytes.data()), size) != size) return false;
    // Into the driver now rather than at the next turn of the event loop; whatever the driver
    // cannot take at once stays in Qt's buffer and follows without anyone waiting for it.
    port_.flush();
    return true;
}

void QtSerialPort::doDiscardQueuedOutput() {
    // Qt's own buffer and the driver's queue (tcflush): on a line that takes output, both are
    // empty long before the next request, and on a stalled one closing cannot wait on them.
    if (port_.isOpen()) port_.clear(QSerialPort::Output);
}

void QtSerialPort::takeWaiting() {
    if (!port_.isOpen()) return;
    // Only when something is there: waiting in vain would leave a time-out error on the port,
    // and a port in error is opened anew rather than taken up again under hold.
    pollfd p{static_cast<int>(port_.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
        // Reads what is waiting and hands it over through readyRead, at once.
        port_.waitForReadyRead(0);
        if (port_.error() == QSerialPort::TimeoutError) port_.clearError();
    }
    const QByteArray rest = port_.readAll();
    deliver({reinterpret_cast<const uint8_t*>(rest.constData()),
             static_cast<std::size_t>(rest.size())});
}

void QtSerialPort::doPollInput() { takeWaiting(); }

void QtSerialPort::postReceiveEvent() {
    // Queued, so the link's handler never runs inside QSerialPort's own signal; dropped with
    // port_ if this object goes first.
    QMetaObject::invokeMethod(
        &port_, [this] { raiseReceiveEvent(); }, Qt::QueuedConnection);
}

}  // namespace ck::platform

// SPDX-License-Identifier: MIT
#include "app/session_recorder.h"

#include <QDir>

#include "platform/qt/qt_log_services.h"

namespace ck::app {

SessionRecorder::SessionRecorder()
    : settings_(std::make_unique<QSettings>(QString::fromLatin1(kSettingsOrganisation),
                                            QString::fromLatin1(kSettingsApplication))),
      files_(std::make_unique<platform::QtAppendFileSystem>()) {
    rebuild();
}

SessionRecorder::~SessionRecorder() = default;

void SessionRecorder::setSettings(std::unique_ptr<QSettings> settings) {
    settings_ = std::move(settings);
}

void SessionRecorder::setFileSystem(std::unique_ptr<platform::AppendFileSystem> files) {
    files_ = std::move(files);
    rebuild();
}

void SessionRecorder::rebuild() { log_ = std::make_unique<output::SessionLog>(*files_); }

void SessionRecorder::restore() {
    on_ = settings_->value(QString::fromLatin1(kSettingLogOn), false).toBool();
}

void SessionRecorder::setOn(bool on) {
    on_ = on;
    if (!on) log_->close();
    settings_->setValue(QString::fromLatin1(kSettingLogOn), on);
    settings_->sync();
}

std::optional<QString> SessionRecorder::record(const measure::LiveReading& live) {
    if (!on_) return std::nullopt;
    const std::optional<output::LogFailure> failure = log_->append(live);
    if (!failure) return std::nullopt;
    setOn(false);
    return LogFailureText(*failure);
}

QString LogFailureText(const output::LogFailure& failure) {
    return QStringLiteral("无法写入记录文件：\r%1\r%2\r实时数据记录已停止。")
        .arg(QDir::toNativeSeparators(QString::fromStdString(failure.path)),
             QString::fromStdString(failure.reason));
}

}  // namespace ck::app

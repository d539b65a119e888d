// SPDX-License-Identifier: MIT
#pragma once
// Windows icon files (.ico): the form the program's icon takes in the .exe and the installer.

#include <QByteArray>
#include <QImage>
#include <QList>

namespace ck::app {

// Sizes in the program's icon file: the shell picks among them for each view.
inline constexpr int kIconFileSizes[] = {16, 24, 32, 48, 64, 256};

// An .ico holding `images` (square, 1 to 256 pixels, any format): each below 256 pixels as a
// 32-bit bitmap with its transparency mask, which every reader of the format takes; 256 as PNG,
// as the shell stores its large icons. Empty when an image cannot be stored.
QByteArray IcoFile(const QList<QImage>& images);

// The program's icon file: AppIconImage at each of kIconFileSizes.
QByteArray AppIconFile();

}  // namespace ck::app

// SPDX-License-Identifier: MIT
#pragma once
// The window's icon and the pictures on its six command buttons, drawn here so that the
// program carries no image files of unknown origin.

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace ck::app {

enum class Picture { Read, Save, Clear, Print, Help, Close };

// The window icon, at 16 and 32 pixels.
QIcon AppIcon();
// The same picture on any painter, in a square of `size` (the installed icons are made so).
void PaintAppIcon(QPainter& painter, qreal size);
// The same picture drawn at `pixels` x `pixels` (the Windows icon file takes 16 to 256).
QImage AppIconImage(int pixels);
// A button's picture: 32 x 32, the help picture 24 x 24.
QPixmap ButtonPicture(Picture which);

}  // namespace ck::app

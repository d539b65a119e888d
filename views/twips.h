// SPDX-License-Identifier: MIT
#pragma once
// Layout in twips, the unit the window is designed in: 1440 to the inch, 15 to a pixel at
// 96 dots per inch. Qt scales logical pixels on other screens.

#include <QPoint>
#include <QRect>

namespace ck::views {

inline constexpr int kTwipsPerPixel = 15;

// Twips to logical pixels, to the nearest pixel.
constexpr int px(int twips) {
    return (twips >= 0 ? twips + kTwipsPerPixel / 2 : twips - kTwipsPerPixel / 2) / kTwipsPerPixel;
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

inline QPoint twipsPoint(int x, int y) { return {px(x), px(y)}; }

}  // namespace ck::views

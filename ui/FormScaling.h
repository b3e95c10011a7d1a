// Fits a form drawn for a small system font to the font in use.
//
// The forms keep their controls at fixed positions, sized for captions in an 8-point font with 13-pixel
// lines. Where the font in use is larger, the captions would be cut off; the whole form then grows by one
// factor, so every caption stays whole and the controls keep their places relative to each other.
#pragma once

class QWidget;
class QSize;

namespace corvantle {

// The smallest factor, at least 1, by which `container`'s child controls must grow so that the caption
// of every label fits its box.
double captionFitFactor(const QWidget &container);

// Moves and resizes `container`'s child controls by `factor` and returns `designSize` scaled likewise.
QSize scaleChildren(QWidget &container, double factor, const QSize &designSize);

} // namespace corvantle

#pragma once

// Converts the dialog-unit layouts of the window and the About box to pixels, the way a
// dialog template is laid out: a horizontal unit is a quarter of the dialog font's
// average character width, a vertical unit an eighth of its height, so the layout grows
// with the font. Stateless; used on the GUI thread, the only one with fonts.

#include <QChar>
#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QSize>

namespace quaderix {

// The templates ask for the desktop's sans-serif font at 8 points.
inline constexpr int kDialogFontPointSize = 8;

inline QFont DialogFont(QFont base) {
  base.setPointSize(kDialogFontPointSize);
  return base;
}

// A control's place as a template gives it, in dialog units: left, top, width, height.
// A plain value, copied freely.
struct DialogUnitRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The average character width as dialog templates define it: the mean advance of the 52
// letters A-Z and a-z, each on its own (no kerning), rounded to whole pixels.
// QFontMetrics::averageCharWidth() reads a font table value instead, which for common
// Linux fonts is a pixel or more narrower than the letters really are; the template's
// texts would then no longer fit their controls ("Load Config", "Last Solutions:").
inline int DialogAverageCharWidth(const QFontMetrics& metrics) {
  int letters = 0;
  for (char c = 'A'; c <= 'Z'; ++c) {
    const char lower = static_cast<char>(c - 'A' + 'a');
    letters += metrics.horizontalAdvance(QChar(c)) + metrics.horizontalAdvance(QChar(lower));
  }
  return (letters / 26 + 1) / 2;
}

inline int DialogUnitsToPixelsX(int units, const QFontMetrics& metrics) {
  return units * DialogAverageCharWidth(metrics) / 4;
}

inline int DialogUnitsToPixelsY(int units, const QFontMetrics& metrics) {
  return units * metrics.height() / 8;
}

inline QRect DialogUnitsToPixels(const DialogUnitRect& r, const QFontMetrics& metrics) {
  return QRect(DialogUnitsToPixelsX(r.x, metrics), DialogUnitsToPixelsY(r.y, metrics),
               DialogUnitsToPixelsX(r.width, metrics), DialogUnitsToPixelsY(r.height, metrics));
}

inline QSize DialogUnitsToPixels(int width, int height, const QFontMetrics& metrics) {
  return QSize(DialogUnitsToPixelsX(width, metrics), DialogUnitsToPixelsY(height, metrics));
}

}  // namespace quaderix

// Dialog units: the window definition's coordinates, based on the window font. A horizontal unit
// is a quarter of the font's average character width, a vertical unit an eighth of its height.
// The average width is that of the 52 letters A-Z and a-z, rounded, as dialog units have always
// measured it; a font's own average (its OS/2 table's) runs narrower than its running text.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace vellum::viewer {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QPoint point(int x, int y) const { return {this->x(x), this->y(y)}; }
    QSize size(int width, int height) const { return {x(width), y(height)}; }
    QRect rect(int x, int y, int width, int height) const {
        return {point(x, y), size(width, height)};
    }

  private:
    int charWidth_;
    int charHeight_;
};

}  // namespace vellum::viewer

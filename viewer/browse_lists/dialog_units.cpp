// Dialog units from the metrics of the window font, rounded to the nearest pixel.
#include "browse_lists/dialog_units.h"

#include <QFontMetrics>

namespace vellum::viewer {

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    charWidth_ = (letters / 26 + 1) / 2;
    charHeight_ = metrics.height();
}

int DialogUnits::x(int units) const {
    return (units * charWidth_ + 2) / 4;
}

int DialogUnits::y(int units) const {
    return (units * charHeight_ + 4) / 8;
}

}  // namespace vellum::viewer

// Windows' dialog fonts stood in for by fonts with the same dialog base
// units, so a dialog keeps the size and proportions it was drawn with.
#include "qt/dialog_font.h"

#include <QStringList>

namespace port {

namespace {

// The names under which Windows dialogs ask for MS Sans Serif.
bool IsMsSansSerif(const QString &face)
{
    for (const char *name : {"MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif"}) {
        if (face.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

// MS Sans Serif 8 pt at 96 dpi has dialog base units of 6 x 13 pixels. At
// the same size, of Debian's outline fonts (measured with Qt 6.4):
//   DejaVu Sans Condensed (fonts-dejavu-extra)  6 x 13
//   Liberation Sans (fonts-liberation2)         6 x 12, as Wine's own MS Sans Serif
//   DejaVu Sans (fonts-dejavu-core)             7 x 13, what fontconfig picks unasked
// Wine's bitmap MS Sans Serif is also 6 x 13, but only at 13, 16 and 20
// pixels, so it blurs at most scale factors; outline fonts stay sharp.
// Liberation Sans is the fallback: the right width, a row short.
QFont DialogFont(const std::string &faceName, int pointSize)
{
    const QString face = QString::fromStdString(faceName);
    QFont font(face);
    if (IsMsSansSerif(face)) {
        font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans")});
    }
    font.setPointSize(pointSize);
    return font;
}

}  // namespace port

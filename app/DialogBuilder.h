#pragma once

#include "DialogTemplate.h"

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRect>

#include <map>

class QLabel;
class QWidget;

namespace kalvor {

// Converts dialog units to pixels for a font: one horizontal unit is a quarter of the font's
// average character width, one vertical unit an eighth of its height.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    int X(int dlu) const;
    int Y(int dlu) const;
    QRect Rect(int x, int y, int cx, int cy) const;
    double BaseX() const { return m_baseX; }
    double BaseY() const { return m_baseY; }

private:
    double m_baseX = 6;
    double m_baseY = 13;
};

// The font of a template.
QFont TemplateFont(const res::DialogTemplate& dialog);

// Icon resource n, drawn from its SVG at whatever size and pixel ratio it is shown.
QIcon LoadIcon(int iconId);
// Icon resource n as a pixmap of size x size device-independent pixels at the pixel ratio of
// the widget's screen.
QPixmap IconPixmap(int iconId, int size, const QWidget* widget);

inline constexpr int kIconSize = 32;

// Shows icon resource n in a picture control and records its number in the dynamic property
// "iconId".
void ShowIcon(QLabel* picture, int iconId);

// Builds the controls of a template into a dialog: fixed client size, font, every control at
// its place, object names ctl<id> for the controls that have an id, tab order of the template.
// Returns the controls by id.
std::map<int, QWidget*> BuildDialog(QWidget* dialog, const res::DialogTemplate& dialog_template);

} // namespace kalvor

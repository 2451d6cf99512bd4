#include "DialogBuilder.h"

#include "ActivityLog.h"
#include "IpAddressCtrl.h"
#include "Resources.h"
#include "SpinButtonCtrl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QIconEngine>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QWidget>
#include <QWindow>

#include <cmath>
#include <memory>

namespace kalvor {

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Draws an SVG icon at any size, so it stays sharp at every scale.
class CSvgIconEngine : public QIconEngine {
public:
    explicit CSvgIconEngine(const QString& path) : m_path(path), m_renderer(path) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.45);
        m_renderer.render(painter, rect);
        painter->setOpacity(1.0);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pixmap(size * scale);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            paint(&painter, QRect(QPoint(0, 0), size * scale), mode, state);
        }
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new CSvgIconEngine(m_path); }
    QString key() const override { return QStringLiteral("kalvor-svg"); }
    bool isNull() override { return !m_renderer.isValid(); }

private:
    QString m_path;
    QSvgRenderer m_renderer;
};

// A check box whose text stands on the left and whose box stands at the right edge.
class CLeftTextCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent*) override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

void CLeftTextCheckBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QStyle* s = style();
    const int indicatorWidth = s->pixelMetric(QStyle::PM_IndicatorWidth, &option, this);
    const int indicatorHeight = s->pixelMetric(QStyle::PM_IndicatorHeight, &option, this);
    QStyleOptionButton indicator = option;
    indicator.rect = QRect(width() - indicatorWidth - 1, (height() - indicatorHeight) / 2,
                           indicatorWidth, indicatorHeight);
    s->drawPrimitive(QStyle::PE_IndicatorCheckBox, &indicator, &painter, this);
    QStyleOptionButton label = option;
    label.rect = QRect(0, 0, indicator.rect.left() - 2, height());
    s->drawItemText(&painter, label.rect, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                    text(), QPalette::WindowText);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        const int textWidth = fontMetrics().horizontalAdvance(text());
        focus.rect = QRect(0, 0, std::min(textWidth + 2, label.rect.width()), height());
        s->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

} // namespace

void ShowIcon(QLabel* picture, int iconId);

namespace {

QWidget* MakeControl(QWidget* dialog, const res::ControlTemplate& c, const CDialogUnits& units) {
    using res::Kind;
    const QRect rect = units.Rect(c.x, c.y, c.cx, c.cy);
    const Qt::Alignment horizontal = (c.style & res::kCentre) ? Qt::AlignHCenter : Qt::AlignLeft;
    QWidget* widget = nullptr;
    switch (c.kind) {
    case Kind::Edit: {
        auto* edit = new QLineEdit(dialog);
        edit->setAlignment(horizontal | Qt::AlignVCenter);
        edit->setReadOnly(c.style & res::kReadOnly);
        edit->setFocusPolicy(Qt::StrongFocus);
        widget = edit;
        break;
    }
    case Kind::Spin:
        widget = new CSpinButtonCtrl(dialog);
        break;
    case Kind::Label: {
        auto* label = new QLabel(Text(c.text), dialog);
        label->setAlignment(horizontal | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        widget = label;
        break;
    }
    case Kind::GroupBox: {
        // Caption on the frame line, as a group box of the layout shows it.
        auto* box = new QGroupBox(Text(c.text), dialog);
        const int half = box->fontMetrics().height() / 2;
        box->setStyleSheet(
            QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                           "QGroupBox::title { subcontrol-origin: margin; left: %2px;"
                           " padding: 0px 2px; background-color: palette(window); }")
                .arg(half)
                .arg(units.X(2)));
        widget = box;
        break;
    }
    case Kind::DropList: {
        auto* combo = new QComboBox(dialog);
        combo->setEditable(false);
        combo->setFocusPolicy(Qt::StrongFocus);
        widget = combo;
        break;
    }
    case Kind::PushButton: {
        auto* button = new QPushButton(Text(c.text), dialog);
        button->setDefault(c.style & res::kDefault);
        button->setFocusPolicy(Qt::StrongFocus);
        widget = button;
        break;
    }
    case Kind::Picture: {
        auto* label = new QLabel(dialog);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    case Kind::CheckBox: {
        QCheckBox* box = (c.style & res::kLeftText) ? new CLeftTextCheckBox(Text(c.text), dialog)
                                                    : new QCheckBox(Text(c.text), dialog);
        box->setFocusPolicy(Qt::StrongFocus);
        widget = box;
        break;
    }
    case Kind::IpAddress:
        widget = new CIpAddressCtrl(dialog);
        break;
    case Kind::LogEdit:
        widget = new CActivityLog(dialog);
        break;
    }
    if (c.kind == Kind::DropList) {
        // The template's height is that of the opened list; the closed list keeps its own.
        auto* combo = static_cast<QComboBox*>(widget);
        const int closedHeight = combo->sizeHint().height();
        widget->setGeometry(rect.x(), rect.y(), rect.width(), closedHeight);
        const int itemHeight = std::max(1, combo->fontMetrics().height() + 2);
        combo->setMaxVisibleItems(std::max(1, (rect.height() - closedHeight) / itemHeight));
    } else {
        widget->setGeometry(rect);
    }
    if (c.kind == Kind::Picture && !c.text.empty()) {
        // A picture's text names the icon resource it shows.
        const int iconId = Text(c.text).toInt();
        ShowIcon(static_cast<QLabel*>(widget), iconId);
    }
    if (c.id != res::kNoId)
        widget->setObjectName(QStringLiteral("ctl%1").arg(c.id));
    if (c.style & res::kHidden)
        widget->setVisible(false);
    return widget;
}

} // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    static const QString alphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = metrics.horizontalAdvance(alphabet) / 52.0;
    m_baseY = metrics.height();
}

int CDialogUnits::X(int dlu) const {
    return int(std::lround(dlu * m_baseX / 4.0));
}
int CDialogUnits::Y(int dlu) const {
    return int(std::lround(dlu * m_baseY / 8.0));
}

QRect CDialogUnits::Rect(int x, int y, int cx, int cy) const {
    // Both edges are converted, so that neighbouring controls meet as in the template.
    const int left = X(x), top = Y(y);
    return QRect(left, top, X(x + cx) - left, Y(y + cy) - top);
}

QFont TemplateFont(const res::DialogTemplate& dialog) {
    QFont font(Text(dialog.fontFamily));
    font.setPointSize(dialog.fontPointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QIcon LoadIcon(int iconId) {
    if (!res::HasIcon(iconId))
        return {};
    return QIcon(new CSvgIconEngine(res::IconPath(iconId)));
}

void ShowIcon(QLabel* picture, int iconId) {
    // Icons are drawn 32 pixels square, smaller only when the picture is smaller.
    const int size = std::min({kIconSize, picture->width(), picture->height()});
    picture->setPixmap(IconPixmap(iconId, size, picture));
    picture->setProperty("iconId", iconId);
}

QPixmap IconPixmap(int iconId, int size, const QWidget* widget) {
    const QIcon icon = LoadIcon(iconId);
    if (icon.isNull())
        return {};
    qreal ratio = 1.0;
    if (widget)
        ratio = widget->devicePixelRatioF();
    return icon.pixmap(QSize(size, size), ratio);
}

std::map<int, QWidget*> BuildDialog(QWidget* dialog, const res::DialogTemplate& dialog_template) {
    dialog->setFont(TemplateFont(dialog_template));
    dialog->setWindowTitle(Text(dialog_template.caption));
    const CDialogUnits units(dialog->font());
    dialog->setFixedSize(units.X(dialog_template.cx), units.Y(dialog_template.cy));

    std::map<int, QWidget*> controls;
    QList<QWidget*> groupBoxes;
    QWidget* previousTabStop = nullptr;
    for (const res::ControlTemplate& c : dialog_template.controls) {
        QWidget* widget = MakeControl(dialog, c, units);
        if (c.id != res::kNoId && !controls.count(c.id))
            controls[c.id] = widget;
        if (c.kind == res::Kind::GroupBox)
            groupBoxes.append(widget);
        if (widget->focusPolicy() & Qt::TabFocus) {
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        }
    }
    // Group boxes frame the controls around them but stand behind them, so clicks reach the
    // controls whatever the template order.
    for (QWidget* box : groupBoxes)
        box->lower();
    return controls;
}

} // namespace kalvor

#include "IpAddressCtrl.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStringList>

namespace kalvor {

namespace {
constexpr int kFieldMax = 255;
}

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    auto* validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setBackgroundRole(QPalette::Base);
            layout->addWidget(dot);
        }
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("field%1").arg(i));
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setValidator(validator);
        edit->setMaxLength(3);
        edit->setTextMargins(0, 0, 0, 0);
        edit->setMinimumWidth(1);
        // Tab enters the first field and leaves the control; the fields are reached by typing,
        // by the dot and by a click.
        edit->setFocusPolicy(Qt::ClickFocus);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, i] { OnFieldEdited(i); });
        m_fields[std::size_t(i)] = edit;
        layout->addWidget(edit, 1);
    }
    setFocusProxy(m_fields[0]);
}

int CIpAddressCtrl::field(int index) const {
    const QString text = m_fields.at(std::size_t(index))->text();
    return text.isEmpty() ? 0 : std::min(text.toInt(), kFieldMax);
}

QString CIpAddressCtrl::address() const {
    return QStringLiteral("%1.%2.%3.%4").arg(field(0)).arg(field(1)).arg(field(2)).arg(field(3));
}

bool CIpAddressCtrl::setAddress(const QString& dotted) {
    if (dotted.trimmed().isEmpty()) {
        clear();
        return true;
    }
    const QStringList parts = dotted.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    std::array<int, 4> values{};
    for (int i = 0; i < 4; ++i) {
        const QString& part = parts.at(i);
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || part.isEmpty() || part.size() > 3 || value < 0 || value > kFieldMax ||
            !part.at(0).isDigit())
            return false;
        values[std::size_t(i)] = value;
    }
    const QString before = address();
    for (int i = 0; i < 4; ++i)
        m_fields[std::size_t(i)]->setText(QString::number(values[std::size_t(i)]));
    if (address() != before)
        emit addressChanged(address());
    return true;
}

void CIpAddressCtrl::clear() {
    const QString before = address();
    for (QLineEdit* edit : m_fields)
        edit->clear();
    if (address() != before)
        emit addressChanged(address());
}

int CIpAddressCtrl::IndexOf(const QObject* edit) const {
    for (int i = 0; i < 4; ++i)
        if (m_fields[std::size_t(i)] == edit)
            return i;
    return -1;
}

void CIpAddressCtrl::FocusField(int index, bool selectAll) {
    QLineEdit* edit = m_fields[std::size_t(index)];
    edit->setFocus(Qt::OtherFocusReason);
    if (selectAll)
        edit->selectAll();
    else
        edit->setCursorPosition(int(edit->text().size()));
}

void CIpAddressCtrl::OnFieldEdited(int index) {
    QLineEdit* edit = m_fields[std::size_t(index)];
    const QString text = edit->text();
    if (!text.isEmpty() && text.toInt() > kFieldMax)
        edit->setText(QString::number(kFieldMax));
    emit addressChanged(address());
    if (text.size() == 3 && edit->cursorPosition() == 3 && index < 3)
        FocusField(index + 1, true);
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    const int index = IndexOf(watched);
    if (index >= 0 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        QLineEdit* edit = m_fields[std::size_t(index)];
        switch (key->key()) {
        case Qt::Key_Period:
        case Qt::Key_Space:
            if (index < 3 && !edit->text().isEmpty())
                FocusField(index + 1, true);
            return true;
        case Qt::Key_Backspace:
            if (index > 0 && edit->cursorPosition() == 0 && !edit->hasSelectedText()) {
                FocusField(index - 1, false);
                return true;
            }
            break;
        case Qt::Key_Left:
            if (index > 0 && edit->cursorPosition() == 0 && !edit->hasSelectedText()) {
                FocusField(index - 1, false);
                return true;
            }
            break;
        case Qt::Key_Right:
            if (index < 3 && edit->cursorPosition() == edit->text().size() &&
                !edit->hasSelectedText()) {
                m_fields[std::size_t(index + 1)]->setFocus(Qt::OtherFocusReason);
                m_fields[std::size_t(index + 1)]->setCursorPosition(0);
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void CIpAddressCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        for (QLineEdit* edit : m_fields)
            edit->setFont(font());
    QFrame::changeEvent(event);
}

std::string IpAddressText(const CIpAddressCtrl& control) {
    return control.address().toStdString();
}

} // namespace kalvor

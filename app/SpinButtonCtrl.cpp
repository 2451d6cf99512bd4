#include "SpinButtonCtrl.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

namespace kalvor {

CSpinButtonCtrl::CSpinButtonCtrl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    m_up = new QToolButton(this);
    m_down = new QToolButton(this);
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {m_up, m_down}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setAutoRaise(false);
    }
    connect(m_up, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void CSpinButtonCtrl::resizeEvent(QResizeEvent* event) {
    const int half = height() / 2;
    m_up->setGeometry(0, 0, width(), half);
    m_down->setGeometry(0, half, width(), height() - half);
    QWidget::resizeEvent(event);
}

int CSpinButtonCtrl::Clamp(int value) const {
    return std::clamp(value, std::min(m_lower, m_upper), std::max(m_lower, m_upper));
}

void CSpinButtonCtrl::SetRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
    m_value = Clamp(m_value);
}

void CSpinButtonCtrl::SetBuddy(QLineEdit* buddy) {
    if (m_buddy)
        m_buddy->removeEventFilter(this);
    m_buddy = buddy;
    if (m_buddy)
        m_buddy->installEventFilter(this);
}

int CSpinButtonCtrl::value() const {
    if (m_buddy) {
        bool ok = false;
        const int shown = m_buddy->text().trimmed().toInt(&ok);
        if (ok)
            return Clamp(shown);
    }
    return m_value;
}

void CSpinButtonCtrl::setValue(int value) {
    const int before = this->value();
    m_value = Clamp(value);
    if (m_buddy) {
        const QString text = QString::number(m_value);
        if (m_buddy->text() != text)
            m_buddy->setText(text);
    }
    if (m_value != before)
        emit valueChanged(m_value);
}

void CSpinButtonCtrl::Step(int delta) {
    // Up goes from the lower bound towards the upper one, whichever way round they are.
    const int direction = m_upper >= m_lower ? 1 : -1;
    setValue(value() + delta * direction);
}

bool CSpinButtonCtrl::eventFilter(QObject* watched, QEvent* event) {
    // Only key presses are looked at: other events also arrive while the buddy is destroyed.
    if (event->type() == QEvent::KeyPress && watched == m_buddy && isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kalvor

#include "ActivityLog.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <ctime>

namespace kalvor {

std::string LogTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == std::time_t(-1) || localtime_r(&now, &local) == nullptr)
        return {};
    char buffer[128];
    const std::size_t length = std::strftime(buffer, sizeof buffer, "%Y/%m/%d %H:%M:%S", &local);
    return std::string(buffer, length);
}

CActivityLog::CActivityLog(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false); // nothing to undo, and an undo stack would grow without end
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
}

void CActivityLog::SetEntryBound(std::size_t bound, std::size_t dropChunk) {
    m_entryBound = std::max<std::size_t>(bound, 1);
    m_dropChunk = std::max<std::size_t>(dropChunk, 1);
    if (m_linesPerEntry.size() >= m_entryBound + m_dropChunk)
        DropOldest(m_linesPerEntry.size() - m_entryBound);
}

void CActivityLog::AppendEntry(const QString& entry) {
    QString text = entry;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const int lines = int(text.count(QLatin1Char('\n'))) + 1;

    // appendPlainText puts the first entry into the empty first line and each later one on
    // a new line; it leaves the selection alone.
    appendPlainText(text);
    m_linesPerEntry.push_back(lines);

    if (m_linesPerEntry.size() >= m_entryBound + m_dropChunk)
        DropOldest(m_dropChunk);
    ScrollToLastEntry();
}

void CActivityLog::DropOldest(std::size_t count) {
    count = std::min(count, m_linesPerEntry.size());
    if (count == 0)
        return;
    int lines = 0;
    for (std::size_t i = 0; i < count; ++i)
        lines += m_linesPerEntry[i];
    QTextDocument* doc = document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    const QTextBlock firstKept = doc->findBlockByNumber(lines);
    if (firstKept.isValid()) {
        cursor.setPosition(0);
        cursor.setPosition(firstKept.position(), QTextCursor::KeepAnchor);
    } else {
        cursor.select(QTextCursor::Document);
    }
    cursor.removeSelectedText();
    cursor.endEditBlock();
    m_linesPerEntry.erase(m_linesPerEntry.begin(), m_linesPerEntry.begin() + std::ptrdiff_t(count));
    m_dropped += count;
}

void CActivityLog::ScrollToLastEntry() {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

QString CActivityLog::LogText() const {
    if (m_linesPerEntry.empty())
        return {};
    QString text;
    QTextBlock block = document()->firstBlock();
    for (int lines : m_linesPerEntry) {
        for (int i = 0; i < lines && block.isValid(); ++i, block = block.next()) {
            text += block.text();
            text += QLatin1String("\r\n");
        }
    }
    return text;
}

} // namespace kalvor

#pragma once

#include <QPlainTextEdit>

#include <cstddef>
#include <deque>
#include <string>

namespace kalvor {

// Time stamp of a log entry: local time now, "%Y/%m/%d %H:%M:%S"; empty when the conversion
// fails.
std::string LogTimeStamp();

// The activity log pane: read-only, selectable and copyable, always scrolled to its last entry.
// Entries are appended as new lines, so an append costs the same however long the log is. The
// pane keeps at least the last EntryBound() entries: once it holds EntryBound() + DropChunk()
// entries, the oldest DropChunk() entries are dropped at once.
class CActivityLog : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr std::size_t kDefaultEntryBound = 100'000;
    static constexpr std::size_t kDefaultDropChunk = 1'000;

    explicit CActivityLog(QWidget* parent = nullptr);

    // Appends one entry. Line breaks in it ("\r\n", or a lone "\n" or "\r") continue the entry
    // on further lines.
    void AppendEntry(const QString& entry);

    void SetEntryBound(std::size_t bound, std::size_t dropChunk);
    std::size_t EntryBound() const { return m_entryBound; }
    std::size_t DropChunk() const { return m_dropChunk; }
    std::size_t EntryCount() const { return m_linesPerEntry.size(); }
    // Entries dropped so far to keep the bound.
    std::size_t DroppedCount() const { return m_dropped; }

    // The log as text, entries ending in "\r\n" as the sign's log speaks it.
    QString LogText() const;
    void ScrollToLastEntry();

private:
    void DropOldest(std::size_t count);

    std::deque<int> m_linesPerEntry;
    std::size_t m_entryBound = kDefaultEntryBound;
    std::size_t m_dropChunk = kDefaultDropChunk;
    std::size_t m_dropped = 0;
};

} // namespace kalvor

#pragma once

#include <QJsonObject>

// The activity log benchmark (needs a QApplication; runs the operator window offscreen).
namespace kalvor::bench {

struct LogLimits {
    long entries = 1'000'000;
    double entryLimitMs = 50; // stop once one entry costs more than this
    double totalLimitS = 60;  // or once the run has taken this long
};

// naive: rewrite the whole pane at every entry instead of appending to it.
QJsonObject RunLog(bool naive, const LogLimits& limits);

} // namespace kalvor::bench

// kalvor_bench: runs every benchmark, each part in a process of its own (so that each memory
// figure is that part's alone), prints one table and writes it to results.md, with the figures
// in results.json beside it.
//
//   kalvor_bench [--out DIR] [--pace-seconds N] [--long-steps N] [--log-entries N]
//                [--naive-seconds S]
//   kalvor_bench --child frames|link|longrun|log-ours|log-naive [same options]
#include "BenchUtil.h"
#include "LogBench.h"
#include "Report.h"
#include "RunBench.h"

#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QProcess>

#include <cstdio>
#include <exception>
#include <memory>

using namespace kalvor::bench;

namespace {

struct Options {
    QString out = QStringLiteral(".");
    QString child;
    int paceSeconds = 10;
    int longSteps = 100'000;
    long logEntries = 1'000'000;
    double naiveSeconds = 60;
};

bool ParseOptions(const QStringList& args, Options& o) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (i + 1 >= args.size())
            return false;
        const QString v = args.at(++i);
        bool ok = true;
        if (a == QLatin1String("--out"))
            o.out = v;
        else if (a == QLatin1String("--child"))
            o.child = v;
        else if (a == QLatin1String("--pace-seconds"))
            o.paceSeconds = v.toInt(&ok);
        else if (a == QLatin1String("--long-steps"))
            o.longSteps = v.toInt(&ok);
        else if (a == QLatin1String("--log-entries"))
            o.logEntries = v.toLong(&ok);
        else if (a == QLatin1String("--naive-seconds"))
            o.naiveSeconds = v.toDouble(&ok);
        else
            return false;
        if (!ok)
            return false;
    }
    return o.paceSeconds > 0 && o.longSteps > 0 && o.logEntries >= 1000 && o.naiveSeconds > 0;
}

QStringList ChildArgs(const Options& o, const QString& part) {
    return {QStringLiteral("--child"),         part,
            QStringLiteral("--pace-seconds"),  QString::number(o.paceSeconds),
            QStringLiteral("--long-steps"),    QString::number(o.longSteps),
            QStringLiteral("--log-entries"),   QString::number(o.logEntries),
            QStringLiteral("--naive-seconds"), QString::number(o.naiveSeconds)};
}

int RunChild(const Options& o) {
    QJsonObject result;
    try {
        if (o.child == QLatin1String("frames")) {
            result = RunFrames();
        } else if (o.child == QLatin1String("link")) {
            result = RunLinkSuite(std::chrono::seconds(o.paceSeconds));
        } else if (o.child == QLatin1String("longrun")) {
            result = RunLongRun(o.longSteps);
        } else if (o.child == QLatin1String("log-ours") || o.child == QLatin1String("log-naive")) {
            const bool naive = o.child == QLatin1String("log-naive");
            LogLimits limits;
            limits.entries = o.logEntries;
            limits.totalLimitS = naive ? o.naiveSeconds : 1e9;
            limits.entryLimitMs = naive ? limits.entryLimitMs : 1e9;
            result = RunLog(naive, limits);
        } else {
            std::fprintf(stderr, "kalvor_bench: unknown part %s\n", qPrintable(o.child));
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kalvor_bench: %s: %s\n", qPrintable(o.child), e.what());
        return 1;
    }
    const QByteArray json = QJsonDocument(result).toJson(QJsonDocument::Compact);
    std::fwrite(json.constData(), 1, std::size_t(json.size()), stdout);
    std::fputc('\n', stdout);
    return 0;
}

// Runs one part in a child process; its progress goes straight to our stderr.
QJsonObject RunPart(const Options& o, const QString& part, QJsonObject& timings) {
    const Clock::time_point start = Clock::now();
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), ChildArgs(o, part));
    child.waitForFinished(-1);
    timings.insert(part, Seconds(Clock::now() - start));
    const QByteArray out = child.readAllStandardOutput().trimmed();
    const QJsonDocument doc = QJsonDocument::fromJson(out.split('\n').last());
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || !doc.isObject()) {
        Progress("part %s failed (exit %d)", qPrintable(part), child.exitCode());
        return QJsonObject{{"error", QStringLiteral("part failed, exit %1").arg(child.exitCode())}};
    }
    return doc.object();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Options o;
    {
        QStringList args;
        for (int i = 0; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        if (!ParseOptions(args, o)) {
            std::fprintf(stderr,
                         "usage: kalvor_bench [--out DIR] [--pace-seconds N] [--long-steps N] "
                         "[--log-entries N] [--naive-seconds S]\n");
            return 2;
        }
    }
    if (o.child.startsWith(QLatin1String("log-"))) {
        QApplication app(argc, argv);
        return RunChild(o);
    }
    QCoreApplication app(argc, argv);
    if (!o.child.isEmpty())
        return RunChild(o);

    const Clock::time_point start = Clock::now();
    QJsonObject timings;
    QJsonObject results;
    for (const char* part : {"frames", "link", "longrun", "log-ours", "log-naive"})
        results.insert(QLatin1String(part), RunPart(o, QLatin1String(part), timings));
    results.insert("machine", MachineInfo());
    results.insert("settings", QJsonObject{{"pace_seconds", o.paceSeconds},
                                           {"long_steps", o.longSteps},
                                           {"log_entries", double(o.logEntries)},
                                           {"naive_seconds", o.naiveSeconds}});
    timings.insert("total", Seconds(Clock::now() - start));
    results.insert("seconds", timings);

    const QString table = RenderTable(results);
    results.insert("goals", GoalsJson(results));
    std::fputs(qPrintable(table), stdout);
    std::fflush(stdout);
    if (!WriteResults(QDir(o.out), table, results)) {
        std::fprintf(stderr, "kalvor_bench: cannot write results to %s\n", qPrintable(o.out));
        return 1;
    }
    Progress("results written to %s", qPrintable(QDir(o.out).absolutePath()));
    return 0;
}

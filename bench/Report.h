#pragma once

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// The benchmarks' report: the machine, the Markdown table, and the goals checked against the
// figures.
namespace kalvor::bench {

// CPU count and model, memory, kernel, Qt and compiler versions, build type.
QJsonObject MachineInfo();
// The whole report as Markdown: machine, one table per benchmark, goals, notes.
QString RenderTable(const QJsonObject& results);
// Every goal with its measured figure and whether it is met.
QJsonArray GoalsJson(const QJsonObject& results);
// results.md and results.json in the directory.
bool WriteResults(const QDir& dir, const QString& table, const QJsonObject& results);

} // namespace kalvor::bench

#pragma once

#include "DisplaySim.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

// The command line of kalvor-display-sim.
namespace kalvor::sim {

struct SimCommandLine {
    SimOptions options;
    std::optional<quint16> udpPort;
    std::optional<quint16> tcpPort;
    bool pty = false;
    QString link; // symbolic link to the pty (implies pty)
    QHostAddress bind = QHostAddress::LocalHost;
    bool help = false;
};

// Reads the arguments (the program name first, as in argv). On a mistake returns nullopt and
// sets error to a one-line message.
std::optional<SimCommandLine> ParseSimCommandLine(const QStringList& arguments, QString& error);

// The usage text printed by --help.
QString SimUsage();

} // namespace kalvor::sim

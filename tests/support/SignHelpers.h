#pragma once

#include "DisplaySim.h"

#include <QHostAddress>
#include <QTcpServer>

// Small helpers for tests that use the display simulator as the sign.

// Options of a sign that answers every frame the same way.
inline kalvor::sim::SimOptions WithReply(kalvor::sim::Reply reply) {
    kalvor::sim::SimOptions options;
    options.reply = reply;
    return options;
}

// A loopback TCP port on which nothing listens: free once the probe server is gone.
inline quint16 ClosedTcpPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

#include "SerialSettings.h"

#include "PortCom.h"
#include "WaitLoop.h"

#include <QByteArray>

#include <iterator>

namespace kalvor {

QString ComDevicePath(int portIndex) {
    const int n = portIndex + 1;
    const QByteArray override = qgetenv(("KALVOR_COM" + QByteArray::number(n)).constData());
    if (!override.isEmpty())
        return QString::fromLocal8Bit(override);
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}

quint32 SelectedBaudRate(int speedIndex) {
    static constexpr quint32 kRates[] = {300, 1200, 2400, 4800, 9600, 19200};
    if (speedIndex < 0 || speedIndex >= int(std::size(kRates)))
        return 9600;
    return kRates[speedIndex];
}

int OpenPortWithSettings(CPortCom& port, const SerialSettings& settings) {
    if (port.IsOpen()) {
        port.Close();
        PauseKeepingPainted(kReopenPause);
    }
    const quint8 dataBits = settings.useParity ? 7 : 8;
    const quint8 parity = settings.useParity ? 2 : 0;
    return port.Open(settings.portIndex, SelectedBaudRate(settings.speedIndex), dataBits, parity);
}

void ReopenPortWithSettings(CPortCom& port, const SerialSettings& settings) {
    if (port.IsOpen())
        port.Close();
    PauseKeepingPainted(kReopenPause);
    OpenPortWithSettings(port, settings);
}

} // namespace kalvor

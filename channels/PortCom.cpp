#include "PortCom.h"

#include <QSerialPort>

namespace kalvor {

// First cut: the port never opens. The serial link proper replaces this.
CPortCom::CPortCom() = default;
CPortCom::~CPortCom() { m_bOpen = 0; }
int CPortCom::Open(int, quint32, quint8, quint8) {
    m_bOpen = 0;
    return 0;
}
int CPortCom::Close() {
    m_bOpen = 0;
    return 1;
}
int CPortCom::ReadByte(quint8&) { return 0; }
int CPortCom::WaitAck() { return 0; }
int CPortCom::PurgeTx() { return 1; }
int CPortCom::WriteFrame(const DisplayFrame&, bool) { return 1; }

} // namespace kalvor

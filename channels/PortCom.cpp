#include "PortCom.h"

#include "SerialSettings.h"
#include "WaitLoop.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSerialPort>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <limits>
#include <utility>
#include <vector>

namespace kalvor {

namespace {

// Connections of one wait, dropped when the wait is over.
class CWaitConnections {
public:
    ~CWaitConnections() {
        for (const QMetaObject::Connection& c : m_connections)
            QObject::disconnect(c);
    }
    void Add(QMetaObject::Connection c) { m_connections.push_back(std::move(c)); }

private:
    std::vector<QMetaObject::Connection> m_connections;
};

// Wakes the wait on everything the serial port reports.
void WakeOnPortSignals(CWaitConnections& connections, QSerialPort* port, CWaitLoop& wait) {
    connections.Add(
        QObject::connect(port, &QSerialPort::readyRead, port, [&wait] { wait.Wake(); }));
    connections.Add(
        QObject::connect(port, &QSerialPort::bytesWritten, port, [&wait] { wait.Wake(); }));
    connections.Add(
        QObject::connect(port, &QSerialPort::errorOccurred, port, [&wait] { wait.Wake(); }));
    connections.Add(
        QObject::connect(port, &QSerialPort::aboutToClose, port, [&wait] { wait.Wake(); }));
}

bool ToQtParity(quint8 code, QSerialPort::Parity& parity) {
    switch (code) {
    case 0:
        parity = QSerialPort::NoParity;
        return true;
    case 1:
        parity = QSerialPort::OddParity;
        return true;
    case 2:
        parity = QSerialPort::EvenParity;
        return true;
    case 3:
        parity = QSerialPort::MarkParity;
        return true;
    case 4:
        parity = QSerialPort::SpaceParity;
        return true;
    default:
        return false;
    }
}

const char* ParityName(quint8 code) {
    static constexpr std::array<const char*, 5> kNames = {"no parity", "odd parity", "even parity",
                                                          "mark parity", "space parity"};
    return code < kNames.size() ? kNames[code] : "unknown parity";
}

// Pseudo-terminal slaves (Unix98 majors 136 to 143, legacy BSD major 3) transmit no parity and
// always keep eight data bits, whatever is asked.
bool IsPseudoTerminal(const struct stat& st) {
    const unsigned int m = major(st.st_rdev);
    return m == 3 || (m >= 136 && m <= 143);
}

speed_t StandardSpeed(quint32 speed) {
    switch (speed) {
    case 300:
        return B300;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    default:
        return B0;
    }
}

tcflag_t CharSizeFlag(quint8 dataBits) {
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

// Whether the device took the line settings: speed, character size, parity, one stop bit.
bool DeviceHasSettings(int fd, quint32 speed, quint8 dataBits, quint8 parity) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    const speed_t wanted = StandardSpeed(speed);
    if (wanted != B0 && ::cfgetospeed(&tio) != wanted)
        return false;
    if ((tio.c_cflag & CSIZE) != CharSizeFlag(dataBits))
        return false;
    if ((tio.c_cflag & CSTOPB) != 0)
        return false;
    const bool parityOn = (tio.c_cflag & PARENB) != 0;
    if (parityOn != (parity != 0))
        return false;
    if (parity == 1 && (tio.c_cflag & PARODD) == 0)
        return false;
    if (parity == 2 && (tio.c_cflag & PARODD) != 0)
        return false;
    return true;
}

} // namespace

CPortCom::CPortCom() : m_port(std::make_unique<QSerialPort>()) {
    m_port->setReadBufferSize(kSerialReceiveBufferBytes);
    QObject::connect(m_port.get(), &QSerialPort::errorOccurred, m_port.get(),
                     [this](QSerialPort::SerialPortError error) { OnPortError(int(error)); });
}

// The QSerialPort goes with the object and releases the device.
CPortCom::~CPortCom() {
    m_bOpen = 0;
}

QString CPortCom::ComName() const {
    return QStringLiteral("COM%1").arg(m_portIndex + 1);
}

int CPortCom::Open(int portIndex, quint32 speed, quint8 dataBits, quint8 parity) {
    m_bOpen = 0;
    ++m_session;
    m_deviceGone = false;
    if (m_port->isOpen())
        m_port->close();
    m_port->clearError();
    m_lastError.clear();
    m_portIndex = portIndex;
    m_speed = speed;
    m_dataBits = dataBits;
    m_parity = parity;

    if (portIndex < 0 || portIndex >= kComPortCount) {
        m_devicePath.clear();
        m_lastError = QStringLiteral("COM%1 is not a port of this tool: the ports are COM1 to "
                                     "COM%2.")
                          .arg(portIndex + 1)
                          .arg(kComPortCount);
        return 0;
    }
    m_devicePath = ComDevicePath(portIndex);
    const QString where = QStringLiteral("%1 (%2)").arg(ComName(), m_devicePath);

    QSerialPort::Parity qtParity = QSerialPort::NoParity;
    if (speed == 0 || speed > quint32(std::numeric_limits<qint32>::max()) || dataBits < 5 ||
        dataBits > 8 || !ToQtParity(parity, qtParity)) {
        m_lastError = QStringLiteral("%1 cannot be set to %2 Bd, %3 data bits, %4.")
                          .arg(where)
                          .arg(speed)
                          .arg(dataBits)
                          .arg(QString::fromLatin1(ParityName(parity)));
        return 0;
    }

    // Through symbolic links to the device itself, so that every name of one device shares
    // one lock file (/var/lock/LCK..<device name>, the lock other serial programs look for).
    const QFileInfo info(m_devicePath);
    const QString device = info.canonicalFilePath();
    struct stat st {};
    if (device.isEmpty() || ::stat(QFile::encodeName(device).constData(), &st) != 0) {
        m_lastError = QStringLiteral("%1 does not exist. To use another device as %2, set the "
                                     "environment variable KALVOR_COM%3 to its path (for "
                                     "example KALVOR_COM%3=/dev/ttyUSB0) and start again.")
                          .arg(where, ComName())
                          .arg(portIndex + 1);
        return 0;
    }
    if (!S_ISCHR(st.st_mode)) {
        m_lastError = QStringLiteral("%1 is not a serial device. Point KALVOR_COM%2 at a serial "
                                     "device such as /dev/ttyUSB0.")
                          .arg(where)
                          .arg(portIndex + 1);
        return 0;
    }

    // The line settings go in before the device is opened: they are applied as it opens
    // (a pseudo-terminal refuses some of them afterwards).
    m_device = device;
    m_port->setPortName(device);
    m_port->setBaudRate(qint32(speed));
    m_port->setDataBits(QSerialPort::DataBits(dataBits));
    m_port->setParity(qtParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_port->error();
        const QByteArray path = QFile::encodeName(device);
        if (error == QSerialPort::DeviceNotFoundError) {
            m_lastError = QStringLiteral("%1 does not exist. To use another device as %2, set "
                                         "the environment variable KALVOR_COM%3 to its path.")
                              .arg(where, ComName())
                              .arg(portIndex + 1);
        } else if (error == QSerialPort::PermissionError &&
                   ::access(path.constData(), R_OK | W_OK) != 0) {
            m_lastError = QStringLiteral("Permission denied on %1: the user must be in the "
                                         "'dialout' group (sudo usermod -aG dialout $USER, "
                                         "then log in again).")
                              .arg(where);
        } else if (error == QSerialPort::PermissionError) {
            m_lastError = QStringLiteral("%1 is busy: another program holds it. Close that "
                                         "program or choose another COM port.")
                              .arg(where);
        } else {
            m_lastError =
                QStringLiteral("%1 could not be opened: %2.").arg(where, m_port->errorString());
        }
        m_port->clearError();
        return 0;
    }

    // Root passes the terminal's exclusive mode; a lock on the open device keeps a second
    // opener out all the same (also one that names the device by another path).
    if (::flock(int(m_port->handle()), LOCK_EX | LOCK_NB) != 0) {
        m_port->close();
        m_port->clearError();
        m_lastError = QStringLiteral("%1 is busy: another program holds it. Close that program "
                                     "or choose another COM port.")
                          .arg(where);
        return 0;
    }

    if (!IsPseudoTerminal(st) &&
        !DeviceHasSettings(int(m_port->handle()), speed, dataBits, parity)) {
        m_port->close();
        m_port->clearError();
        m_lastError = QStringLiteral("%1 refused the line settings %2 Bd, %3 data bits, %4, "
                                     "1 stop bit.")
                          .arg(where)
                          .arg(speed)
                          .arg(dataBits)
                          .arg(QString::fromLatin1(ParityName(parity)));
        return 0;
    }

    m_port->clear(QSerialPort::Output);
    m_port->clear(QSerialPort::Input);
    m_port->clearError();
    m_bOpen = 1;
    return 1;
}

int CPortCom::Close() {
    m_bOpen = 0;
    if (!m_port->isOpen())
        return 0;
    if (!m_deviceGone) {
        m_port->clear(QSerialPort::Output);
        m_port->clear(QSerialPort::Input);
    }
    m_port->close();
    m_port->clearError();
    m_deviceGone = false;
    return 1;
}

void CPortCom::OnPortError(int error) {
    if (m_deviceGone || !m_port->isOpen())
        return;
    // QSerialPort also calls a full driver buffer (EAGAIN) a resource error: only a hung-up
    // device (unplugged adapter, closed far side of a pseudo-terminal) counts as gone.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError)
        return;
    // A device node that has disappeared counts as well, for drivers that do not hang up.
    if (!DeviceHungUp() && ::access(QFile::encodeName(m_device).constData(), F_OK) == 0)
        return;
    m_deviceGone = true;
    // Not from inside the port's own notification: the close follows as soon as the event loop
    // (or the operation that is waiting) gets control back.
    QMetaObject::invokeMethod(
        m_port.get(),
        [this, session = m_session] {
            if (session == m_session)
                CloseGoneDevice();
        },
        Qt::QueuedConnection);
}

bool CPortCom::DeviceHungUp() const {
    pollfd p{};
    p.fd = int(m_port->handle());
    p.events = POLLIN | POLLOUT;
    if (p.fd < 0 || ::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void CPortCom::CloseGoneDevice() {
    if (!m_deviceGone)
        return;
    m_bOpen = 0;
    if (m_port->isOpen())
        m_port->close();
    m_port->clearError();
    m_deviceGone = false;
    m_lastError = QStringLiteral("%1 (%2) went away (device unplugged or closed); the port was "
                                 "closed and opens again with the next frame.")
                      .arg(ComName(), m_devicePath);
}

bool CPortCom::Usable() const {
    return m_bOpen && m_port->isOpen() && !m_deviceGone;
}

int CPortCom::ReadByte(quint8& b) {
    if (!Usable()) {
        CloseGoneDevice();
        return 0;
    }
    QSerialPort* port = m_port.get();
    CWaitLoop wait;
    {
        CWaitConnections connections;
        WakeOnPortSignals(connections, port, wait);
        // A read error that is not the device going away is only reported: the wait goes on
        // until a byte comes or the read time-out has passed, so the retries stay bounded.
        wait.Run(
            [this, port] { return m_deviceGone || !port->isOpen() || port->bytesAvailable() > 0; },
            QDeadlineTimer(kSerialReadTimeout, Qt::PreciseTimer));
    }
    char c = 0;
    if (!m_deviceGone && port->isOpen() && port->bytesAvailable() > 0 && port->getChar(&c)) {
        b = quint8(c);
        return 1;
    }
    CloseGoneDevice();
    if (port->isOpen())
        port->clearError();
    return 0;
}

int CPortCom::WaitAck() {
    quint8 b = 0;
    return ReadByte(b) && b == ACK ? 1 : 0;
}

int CPortCom::PurgeTx() {
    if (!m_port->isOpen())
        return 0;
    return m_port->clear(QSerialPort::Output) ? 1 : 0;
}

bool CPortCom::WriteOneByte(Byte b) {
    QSerialPort* port = m_port.get();
    const char c = char(b);
    if (port->write(&c, 1) != 1)
        return false;
    port->flush(); // hands the byte to the driver now when it has room
    CWaitLoop wait;
    bool written = false;
    {
        CWaitConnections connections;
        WakeOnPortSignals(connections, port, wait);
        written = wait.Run(
            [this, port] { return m_deviceGone || !port->isOpen() || port->bytesToWrite() == 0; },
            QDeadlineTimer(kSerialByteWriteTimeout, Qt::PreciseTimer));
    }
    if (m_deviceGone || !port->isOpen())
        return false;
    if (!written || port->bytesToWrite() > 0) {
        // The driver did not take it in time: the byte is dropped, it must not go out later.
        port->clear(QSerialPort::Output);
        port->clearError();
        return false;
    }
    return true;
}

bool CPortCom::TransmitterEmpty() const {
    const int fd = int(m_port->handle());
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0)
        return false;
    // A UART that says whether its shift register is empty too (drivers without it answer
    // with an error, and the queue alone counts).
    unsigned int lsr = 0;
    if (::ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && (lsr & TIOCSER_TEMT) == 0)
        return false;
    return true;
}

void CPortCom::Drain(std::size_t byteCount) {
    if (!Usable())
        return;
    // Start bit, data bits, parity bit, stop bit.
    const quint64 bitsPerChar = 1 + m_dataBits + (m_parity != 0 ? 1 : 0) + 1;
    const quint64 lineMs = (quint64(byteCount) * bitsPerChar * 1000 + m_speed - 1) / m_speed;
    const auto bound = std::chrono::milliseconds(qint64(lineMs)) + kSerialDrainMargin;

    QSerialPort* port = m_port.get();
    CWaitLoop wait;
    QTimer pollTimer;
    pollTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pollTimer, &QTimer::timeout, &pollTimer, [&wait] { wait.Wake(); });
    pollTimer.start(kSerialDrainPoll);
    CWaitConnections connections;
    WakeOnPortSignals(connections, port, wait);
    wait.Run([this, port] { return m_deviceGone || !port->isOpen() || TransmitterEmpty(); },
             QDeadlineTimer(bound, Qt::PreciseTimer));
}

int CPortCom::WriteFrame(const DisplayFrame& frame, bool withChecksum) {
    if (!Usable()) {
        CloseGoneDevice();
        return 1;
    }
    PurgeTx();
    const DisplayFrame wire = WireBytes(frame, withChecksum);
    std::size_t sent = 0;
    for (const Byte b : wire) {
        // A byte that does not get out within its write time-out is lost, and with it the
        // frame: the rest is not sent (it could only make a broken frame on the line, after a
        // wait of one write time-out per byte).
        if (!WriteOneByte(b))
            break;
        ++sent;
    }
    if (sent > 0)
        Drain(sent);
    CloseGoneDevice();
    return 1;
}

} // namespace kalvor

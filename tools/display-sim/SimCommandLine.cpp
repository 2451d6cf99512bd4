#include "SimCommandLine.h"

#include <QCommandLineParser>

namespace kalvor::sim {

namespace {

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption udp{QStringLiteral("udp"),
                           QStringLiteral("Take frames as UDP datagrams on PORT (0: a free port)."),
                           QStringLiteral("PORT")};
    QCommandLineOption tcp{QStringLiteral("tcp"),
                           QStringLiteral("Accept TCP connections on PORT (0: a free port)."),
                           QStringLiteral("PORT")};
    QCommandLineOption pty{QStringLiteral("pty"),
                           QStringLiteral("Create a pseudo-terminal for Kalvor's serial port.")};
    QCommandLineOption link{
        QStringLiteral("link"),
        QStringLiteral("Make PATH a symbolic link to the pseudo-terminal (implies --pty), "
                       "for KALVOR_COM1=PATH."),
        QStringLiteral("PATH")};
    QCommandLineOption bind{QStringLiteral("bind"),
                            QStringLiteral("Address to listen on (default 127.0.0.1)."),
                            QStringLiteral("ADDR"), QStringLiteral("127.0.0.1")};
    QCommandLineOption checksum{
        QStringLiteral("checksum"),
        QStringLiteral("Checksum byte after the ETX: auto (default; on a stream, a byte "
                       "within 20 ms of the ETX), on (always) or off (never)."),
        QStringLiteral("auto|on|off"), QStringLiteral("auto")};
    QCommandLineOption reply{QStringLiteral("reply"),
                             QStringLiteral("Answer to a frame: ack (0x06, default), nak (0x15) "
                                            "or none."),
                             QStringLiteral("ack|nak|none"), QStringLiteral("ack")};
    QCommandLineOption ackInvalid{QStringLiteral("ack-invalid"),
                                  QStringLiteral("Answer invalid frames too.")};
    QCommandLineOption delay{QStringLiteral("delay-ms"),
                             QStringLiteral("Wait N milliseconds before answering."),
                             QStringLiteral("N"), QStringLiteral("0")};
    QCommandLineOption failXor{
        QStringLiteral("fail-xor"),
        QStringLiteral("No answer to frames with these checksum values (hex, comma-separated, "
                       "e.g. 10,44,7F)."),
        QStringLiteral("LIST")};
    QCommandLineOption dropEvery{QStringLiteral("drop-every"),
                                 QStringLiteral("No answer to every Nth frame."),
                                 QStringLiteral("N")};
    QCommandLineOption onlyAddress{
        QStringLiteral("only-address"),
        QStringLiteral("Answer only frames for this address (decimal); others stay silent."),
        QStringLiteral("N")};
    QCommandLineOption tcpClose{QStringLiteral("tcp-close"),
                                QStringLiteral("Close the TCP connection instead of answering.")};
    QCommandLineOption udpOversize{
        QStringLiteral("udp-oversize"),
        QStringLiteral("Answer on UDP with an 11-byte datagram that begins with 0x06.")};
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("Print JSON lines.")};
    QCommandLineOption count{QStringLiteral("count"), QStringLiteral("Exit after N frames."),
                             QStringLiteral("N")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help.")};

    Parser() {
        parser.setApplicationDescription(
            QStringLiteral("Plays the message display for Kalvor: takes frames over UDP, TCP "
                           "or a pseudo-terminal, prints one line per frame and answers."));
        parser.addOptions({udp, tcp, pty, link, bind, checksum, reply, ackInvalid, delay, failXor,
                           dropEvery, onlyAddress, tcpClose, udpOversize, json, count, help});
    }
};

std::optional<int> Number(const QString& text, int min, int max) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace

QString SimUsage() {
    Parser p;
    return p.parser.helpText();
}

std::optional<SimCommandLine> ParseSimCommandLine(const QStringList& arguments, QString& error) {
    Parser p;
    if (!p.parser.parse(arguments)) {
        error = p.parser.errorText();
        return std::nullopt;
    }
    if (!p.parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument: %1").arg(p.parser.positionalArguments()[0]);
        return std::nullopt;
    }
    SimCommandLine cl;
    if (p.parser.isSet(p.help)) {
        cl.help = true;
        return cl;
    }
    const auto bad = [&error](const QString& option, const QString& value) {
        error = QStringLiteral("invalid value for --%1: %2").arg(option, value);
        return std::nullopt;
    };

    if (p.parser.isSet(p.udp)) {
        const auto port = Number(p.parser.value(p.udp), 0, 65535);
        if (!port)
            return bad(QStringLiteral("udp"), p.parser.value(p.udp));
        cl.udpPort = quint16(*port);
    }
    if (p.parser.isSet(p.tcp)) {
        const auto port = Number(p.parser.value(p.tcp), 0, 65535);
        if (!port)
            return bad(QStringLiteral("tcp"), p.parser.value(p.tcp));
        cl.tcpPort = quint16(*port);
    }
    cl.link = p.parser.value(p.link);
    if (p.parser.isSet(p.link) && cl.link.isEmpty())
        return bad(QStringLiteral("link"), cl.link);
    cl.pty = p.parser.isSet(p.pty) || !cl.link.isEmpty();
    if (!cl.bind.setAddress(p.parser.value(p.bind)))
        return bad(QStringLiteral("bind"), p.parser.value(p.bind));

    const QString checksum = p.parser.value(p.checksum);
    if (checksum == QLatin1String("auto"))
        cl.options.checksum = ChecksumMode::Auto;
    else if (checksum == QLatin1String("on"))
        cl.options.checksum = ChecksumMode::On;
    else if (checksum == QLatin1String("off"))
        cl.options.checksum = ChecksumMode::Off;
    else
        return bad(QStringLiteral("checksum"), checksum);

    const QString reply = p.parser.value(p.reply);
    if (reply == QLatin1String("ack"))
        cl.options.reply = Reply::Ack;
    else if (reply == QLatin1String("nak"))
        cl.options.reply = Reply::Nak;
    else if (reply == QLatin1String("none"))
        cl.options.reply = Reply::None;
    else
        return bad(QStringLiteral("reply"), reply);

    cl.options.ackInvalid = p.parser.isSet(p.ackInvalid);
    const auto delay = Number(p.parser.value(p.delay), 0, 3'600'000);
    if (!delay)
        return bad(QStringLiteral("delay-ms"), p.parser.value(p.delay));
    cl.options.delayMs = *delay;

    if (p.parser.isSet(p.failXor)) {
        for (const QString& item : p.parser.value(p.failXor).split(u',', Qt::SkipEmptyParts)) {
            QString text = item.trimmed();
            if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
                text = text.mid(2);
            bool ok = false;
            const int value = text.toInt(&ok, 16);
            if (!ok || text.isEmpty() || text.size() > 2 || value < 0 || value > 0xFF)
                return bad(QStringLiteral("fail-xor"), item);
            cl.options.failXor.insert(value);
        }
    }
    if (p.parser.isSet(p.dropEvery)) {
        const auto n = Number(p.parser.value(p.dropEvery), 0, 1'000'000'000);
        if (!n)
            return bad(QStringLiteral("drop-every"), p.parser.value(p.dropEvery));
        cl.options.dropEvery = *n;
    }
    if (p.parser.isSet(p.onlyAddress)) {
        const auto n = Number(p.parser.value(p.onlyAddress), 0, 255);
        if (!n)
            return bad(QStringLiteral("only-address"), p.parser.value(p.onlyAddress));
        cl.options.onlyAddress = *n;
    }
    cl.options.tcpClose = p.parser.isSet(p.tcpClose);
    cl.options.udpOversize = p.parser.isSet(p.udpOversize);
    cl.options.json = p.parser.isSet(p.json);
    if (p.parser.isSet(p.count)) {
        const auto n = Number(p.parser.value(p.count), 0, 1'000'000'000);
        if (!n)
            return bad(QStringLiteral("count"), p.parser.value(p.count));
        cl.options.count = *n;
    }
    if (!cl.udpPort && !cl.tcpPort && !cl.pty) {
        error = QStringLiteral("nothing to listen on: give --udp PORT, --tcp PORT or --pty");
        return std::nullopt;
    }
    return cl;
}

} // namespace kalvor::sim

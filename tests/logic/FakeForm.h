#pragma once

#include "OperatorForm.h"
#include "PortCom.h"
#include "SerialSettings.h"

#include <QStringList>

#include <map>
#include <string>

// A headless operator form: holds the values the window would show and records, in order,
// everything the logic does to it.
class FakeForm : public kalvor::IOperatorForm {
public:
    int address = 48;
    std::string message = "TEST";
    std::string attribute = "0";
    int linkMode = kalvor::kLinkSerial;
    std::map<int, bool> checks{{kalvor::ctl::WaitAck, true},
                               {kalvor::ctl::UseXor, true},
                               {kalvor::ctl::UseParity, true},
                               {kalvor::ctl::XorTest, false}};
    kalvor::SerialSettings serial;
    std::string targetPort = "13";
    std::string ip = "127.0.0.1";
    std::string delay = "500";
    bool validationFails = false;

    kalvor::CPortCom port;
    kalvor::AckIcon icon = kalvor::IconAckIdle;
    kalvor::TransferCounters shown;
    bool runLayout = false;
    int openCalls = 0;

    // "log:...", "err:...", "box:...", "icon:NNN", "layout:0|1", "counters:S/G/B", "update:0|1".
    QStringList events;

    QStringList Only(const QString& prefix) const {
        QStringList out;
        for (const QString& e : events)
            if (e.startsWith(prefix))
                out << e.mid(prefix.size());
        return out;
    }
    // Events without the data exchange and counter display, which happen around everything.
    QStringList Visible() const {
        QStringList out;
        for (const QString& e : events)
            if (!e.startsWith("update:") && !e.startsWith("counters:"))
                out << e;
        return out;
    }

    bool UpdateData(bool save) override {
        events << QStringLiteral("update:%1").arg(save ? 1 : 0);
        return !(save && validationFails);
    }
    int AddressValue() const override { return address; }
    std::string MessageText() const override { return message; }
    std::string AttributeChar() const override { return attribute; }
    int LinkMode() const override { return linkMode; }
    bool IsChecked(int id) const override {
        const auto it = checks.find(id);
        return it != checks.end() && it->second;
    }
    int ComPortIndex() const override { return serial.portIndex; }
    std::string TargetPortText() const override { return targetPort; }
    std::string IpAddressText() const override { return ip; }
    std::string DelayText() const override { return delay; }
    kalvor::CPortCom& PortCom() override { return port; }
    int OpenPortFromForm() override {
        ++openCalls;
        kalvor::SerialSettings s = serial;
        s.useParity = IsChecked(kalvor::ctl::UseParity);
        return kalvor::OpenPortWithSettings(port, s);
    }
    void SetAckIcon(kalvor::AckIcon i) override {
        icon = i;
        events << QStringLiteral("icon:%1").arg(int(i));
    }
    void ShowTransferCounters(const kalvor::TransferCounters& c) override {
        shown = c;
        events << QStringLiteral("counters:%1/%2/%3").arg(c.Send).arg(c.Good).arg(c.Bad);
    }
    void SetRunLayout(bool running) override {
        runLayout = running;
        events << QStringLiteral("layout:%1").arg(running ? 1 : 0);
    }
    void AppendLogLine(const std::string& text) override {
        events << "log:" + QString::fromLatin1(text.data(), qsizetype(text.size()));
    }
    void AppendErrorLine(const std::string& text) override {
        events << "err:" + QString::fromLatin1(text.data(), qsizetype(text.size()));
    }
    void MessageBox(const std::string& text, kalvor::BoxIcon) override {
        events << "box:" + QString::fromLatin1(text.data(), qsizetype(text.size()));
    }
};

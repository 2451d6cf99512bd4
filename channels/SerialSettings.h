#pragma once

#include <QString>

#include <chrono>

// From the form's serial settings to an open port: COM naming on Linux, speeds and line format.
namespace kalvor {

class CPortCom;

inline constexpr std::chrono::milliseconds kReopenPause{100};
inline constexpr int kComPortCount = 20;

// Device path of COM<portIndex + 1>: the environment variable KALVOR_COM<n> when set,
// otherwise /dev/ttyS<n-1>.
QString ComDevicePath(int portIndex);

// Baud rate of the Speed list's index: 300, 1200, 2400, 4800, 9600, 19200; 9600 otherwise.
quint32 SelectedBaudRate(int speedIndex);

struct SerialSettings {
    int portIndex = 0;
    int speedIndex = 1;
    bool useParity = true; // 7 data bits even parity; otherwise 8 data bits no parity
};

// Closes an open port (then pauses 100 ms) and opens it with the settings.
// Returns what CPortCom::Open returned.
int OpenPortWithSettings(CPortCom& port, const SerialSettings& settings);

// A change of COM port, speed or parity: close if open, pause 100 ms, open with the settings.
void ReopenPortWithSettings(CPortCom& port, const SerialSettings& settings);

} // namespace kalvor

#pragma once

#include <QJsonObject>

#include <chrono>

// The benchmarks of the test runs and the frame code; each returns its figures as JSON.
namespace kalvor::bench {

// Pace and step cost of loop tests (UDP, TCP, pty at Delay 10 and 50 ms), step cost with a
// silent sign, and the full XOR test on each link.
QJsonObject RunLinkSuite(std::chrono::seconds paceLength);
// Steps performed back to back over UDP: memory and descriptors along the way.
QJsonObject RunLongRun(int steps);
// Build (escape and checksum included) and render of one frame.
QJsonObject RunFrames();

} // namespace kalvor::bench

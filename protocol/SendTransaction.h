#pragma once

#include "DisplayFrame.h"
#include "OperatorForm.h"

// The Send button: one frame built from the form, over the chosen link, with the answer
// shown, logged and, on every failure, reported in a box.
#include <memory>

namespace kalvor {

class CBlockingSocket;

void OnSendButton(IOperatorForm& form);

// The frame the form describes: its address value, the first character of its attribute
// character and its message text. Both the Send button and the loop test send it.
DisplayFrame BuildFormFrame(const IOperatorForm& form);

// The socket channel of a link mode: UDP for kLinkUdp, TCP for every other value but serial.
std::unique_ptr<CBlockingSocket> MakeSocketChannel(int linkMode);
// "UDP vers a.b.c.d:port" or "TCP vers a.b.c.d:port".
std::string VersLine(int linkMode, const std::string& address, int port);

} // namespace kalvor

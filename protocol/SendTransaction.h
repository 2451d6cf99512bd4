#pragma once

#include "OperatorForm.h"

// The Send button: one frame built from the form, over the chosen link, with the answer
// shown, logged and, on every failure, reported in a box.
#include <memory>

namespace kalvor {

class CBlockingSocket;

void OnSendButton(IOperatorForm& form);

// The socket channel of a link mode: UDP for kLinkUdp, TCP for every other value but serial.
std::unique_ptr<CBlockingSocket> MakeSocketChannel(int linkMode);
// "UDP vers a.b.c.d:port" or "TCP vers a.b.c.d:port".
std::string VersLine(int linkMode, const std::string& address, int port);

} // namespace kalvor

#pragma once

#include "OperatorForm.h"

// The Send button: one frame built from the form, over the chosen link, with the answer
// shown, logged and, on every failure, reported in a box.
namespace kalvor {

void OnSendButton(IOperatorForm& form);

} // namespace kalvor

#include "SendTransaction.h"

namespace kalvor {

void OnSendButton(IOperatorForm& form) {
    form.UpdateData(true);
    form.UpdateData(false);
}

} // namespace kalvor

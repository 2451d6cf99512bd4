#include "TestRun.h"

namespace kalvor {

CTestRun::CTestRun(IOperatorForm& form, QObject* parent) : QObject(parent), m_form(form) {}

void CTestRun::ToggleTestRun() {}

void CTestRun::RunTestStep(unsigned) {}

void CTestRun::FinishXorTest() {}

} // namespace kalvor

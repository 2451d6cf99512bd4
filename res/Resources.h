#pragma once

#include <QString>

// Access to the resources compiled into kalvor_res.
namespace kalvor::res {

// Qt resource path of icon resource n (an SVG file), e.g. ":/kalvor/icons/128.svg".
QString IconPath(int iconId);
// Whether icon n exists.
bool HasIcon(int iconId);
// String n of the table as a QString; empty when there is none.
QString String(int id);

} // namespace kalvor::res

#include "Resources.h"

#include "DialogTemplate.h"

#include <QFile>

namespace kalvor::res {

QString IconPath(int iconId) {
    return QStringLiteral(":/kalvor/icons/%1.svg").arg(iconId);
}

bool HasIcon(int iconId) {
    return QFile::exists(IconPath(iconId));
}

QString String(int id) {
    const std::string_view text = LoadString(id);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace kalvor::res

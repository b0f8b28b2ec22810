#include "options.h"

#include "applog.h"
#include "engine.h"

#include <algorithm>

namespace {

const QString defaultExt = QStringLiteral(".jpg");
const int defaultQuality = 85;

} // namespace

QString Options::ext()
{
    const QString value = serverOptionValue(QStringLiteral("ext"), defaultExt).toString().trimmed();
    static const QStringList known{QStringLiteral(".jpg"), QStringLiteral(".jpeg"), QStringLiteral(".png")};
    for (const QString &candidate : known) {
        if (value.compare(candidate, Qt::CaseInsensitive) == 0)
            return candidate;
    }
    qCWarning(lcApp) << "unknown capture file extension" << value << "- using" << defaultExt;
    return defaultExt;
}

int Options::quality()
{
    bool ok = false;
    const int value = serverOptionValue(QStringLiteral("quality"), defaultQuality).toString().trimmed().toInt(&ok);
    if (!ok) {
        qCWarning(lcApp) << "capture quality is not a number - using" << defaultQuality;
        return defaultQuality;
    }
    return std::clamp(value, 0, 100);
}

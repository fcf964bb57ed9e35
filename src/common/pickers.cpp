#include "common/pickers.h"

#include <QRegularExpression>
#include <QStringList>

namespace Common {

QString qtFileFilter(const QString& pickerFilter)
{
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    const QStringList parts = pickerFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // The description names its patterns itself in the picker's form; Qt reads them from the
        // parentheses, so those are rewritten from the real patterns.
        QString description = parts.at(i);
        description.remove(trailingPatterns);
        QString patterns = parts.at(i + 1);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << QStringLiteral("%1 (%2)").arg(description.trimmed(), patterns.trimmed());
    }
    return filters.join(QLatin1String(";;"));
}

} // namespace Common

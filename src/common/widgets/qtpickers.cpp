#include "common/widgets/qtpickers.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>

#include "common/widgets/windowhelpers.h"

namespace Common {

QtPickers::QtPickers(QWidget* owner)
    : m_owner(owner)
{
}

std::optional<qint32> QtPickers::pickColor(qint32 initial)
{
    const QColor chosen = QColorDialog::getColor(toQColor(initial), m_owner);
    if (!chosen.isValid())
        return std::nullopt;
    return fromQColor(chosen);
}

std::optional<Pickers::Font> QtPickers::pickFont(const Font& initial)
{
    QFont font(initial.name);
    if (initial.points > 0)
        font.setPointSizeF(initial.points);
    font.setBold(initial.bold);
    font.setItalic(initial.italic);
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, font, m_owner, QString(), QFontDialog::ScalableFonts);
    if (!ok)
        return std::nullopt;
    return Font { chosen.family(), chosen.pointSizeF(), chosen.bold(), chosen.italic() };
}

QString QtPickers::openFile(const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(m_owner, title, QString(), qtFileFilter(filter));
}

QString QtPickers::saveFile(const QString& title, const QString& filter)
{
    // Qt's save dialog already confirms an overwrite and refuses a folder that does not exist.
    return QFileDialog::getSaveFileName(m_owner, title, QString(), qtFileFilter(filter));
}

QString QtPickers::pickFolder(const QString& title, const QString& startFolder)
{
    return BrowseForFolder(title, startFolder, QString(), true, false, m_owner);
}

QColor toQColor(qint32 colour) { return QColor(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff); }

qint32 fromQColor(const QColor& colour)
{
    return qint32(colour.red()) | (qint32(colour.green()) << 8) | (qint32(colour.blue()) << 16);
}

} // namespace Common

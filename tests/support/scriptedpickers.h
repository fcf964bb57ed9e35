#pragma once

#include <optional>

#include <QList>
#include <QString>

#include "common/pickers.h"

namespace TestSupport {

// Test seam: answers the choosers from what the test set beforehand and records each request. An
// answer left unset stands for Cancel.
class ScriptedPickers final : public Common::Pickers {
public:
    struct Asked {
        QString kind; // "color", "font", "file", "save" or "folder"
        QString title;
        QString detail; // the filter, the start folder, or the colour or font offered
    };

    std::optional<qint32> colour;
    std::optional<Font> font;
    QString file;
    QString saveAs;
    QString folder;
    QList<Asked> asked;

    std::optional<qint32> pickColor(qint32 initial) override
    {
        asked.append({ QStringLiteral("color"), {}, QString::number(initial) });
        return colour;
    }
    std::optional<Font> pickFont(const Font& initial) override
    {
        asked.append({ QStringLiteral("font"), {}, initial.name + QLatin1Char(' ') + QString::number(initial.points) });
        return font;
    }
    QString openFile(const QString& title, const QString& filter) override
    {
        asked.append({ QStringLiteral("file"), title, filter });
        return file;
    }
    QString saveFile(const QString& title, const QString& filter) override
    {
        asked.append({ QStringLiteral("save"), title, filter });
        return saveAs;
    }
    QString pickFolder(const QString& title, const QString& startFolder) override
    {
        asked.append({ QStringLiteral("folder"), title, startFolder });
        return folder;
    }
};

} // namespace TestSupport

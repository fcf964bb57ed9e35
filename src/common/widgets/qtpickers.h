#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

#include "common/pickers.h"

namespace Common {

// The program's choosers as Qt's dialogs, modal over an owner window.
class QtPickers final : public Pickers {
public:
    explicit QtPickers(QWidget* owner = nullptr);
    void setOwner(QWidget* owner) { m_owner = owner; }

    std::optional<qint32> pickColor(qint32 initial) override;
    std::optional<Font> pickFont(const Font& initial) override;
    QString openFile(const QString& title, const QString& filter) override;
    QString saveFile(const QString& title, const QString& filter) override;
    QString pickFolder(const QString& title, const QString& startFolder) override;

private:
    QPointer<QWidget> m_owner;
};

// A stored colour (0x00BBGGRR) as Qt's, and back.
QColor toQColor(qint32 colour);
qint32 fromQColor(const QColor& colour);

} // namespace Common

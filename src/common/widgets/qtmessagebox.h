#pragma once

#include <QPointer>
#include <QWidget>

#include "common/messagebox.h"

namespace Common {

// Shows the program's message boxes as real modal dialogs over an owner window.
class QtMessageBox final : public MessageBox {
public:
    explicit QtMessageBox(QWidget* owner = nullptr);
    void setOwner(QWidget* owner) { m_owner = owner; }
    Answer ask(const QString& text, const QString& title, Icon icon, Buttons buttons) override;

private:
    QPointer<QWidget> m_owner;
};

} // namespace Common

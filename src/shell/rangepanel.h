#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace Shell {

// The main window's top panel "picTop": the database's link count, the range of links to capture
// ("Start from number:" ... "to:"), "Refresh" and "Skip Existing".
class RangePanel final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RangePanel)

public:
    explicit RangePanel(QWidget* parent = nullptr);

    QString fromText() const;
    QString toText() const;
    bool skipExisting() const;
    void setRange(const QString& from, const QString& to);
    void setFrom(const QString& from);
    // The database's count; the range becomes the whole database.
    void setTotal(qint32 count);

Q_SIGNALS:
    void refreshClicked();

private:
    QLabel* m_lblTotalLocalLinks = nullptr;
    QLineEdit* m_txtStartLinksFrom = nullptr;
    QLineEdit* m_txtStartLinksTo = nullptr;
    QCheckBox* m_chkSkipExisting = nullptr;
};

} // namespace Shell

#pragma once

#include <QFrame>

namespace Settings {

// A colour field: a small flat box filled with its colour (0x00BBGGRR) that reports clicks.
class ColourSwatch final : public QFrame {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ColourSwatch)

public:
    explicit ColourSwatch(QWidget* parent = nullptr);

    qint32 colour() const { return m_colour; }
    void setColour(qint32 colour);

    QSize sizeHint() const override;

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    qint32 m_colour = 0;
};

} // namespace Settings

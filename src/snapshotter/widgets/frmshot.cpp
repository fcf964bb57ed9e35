#include "snapshotter/widgets/frmshot.h"

#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include "common/pickers.h"
#include "common/widgets/windowhelpers.h"
#include "imaging/widgets/picturedisplay.h"
#include "snapshotter/saveformat.h"

namespace Snapshotter {

namespace {

    QLabel* makeLabel(const QString& name, QWidget* parent)
    {
        auto* label = new QLabel(parent);
        label->setObjectName(name);
        return label;
    }

    QLineEdit* makeSizeBox(const QString& name, const QString& text, QWidget* parent)
    {
        auto* box = new QLineEdit(text, parent);
        box->setObjectName(name);
        box->setMaximumWidth(60);
        return box;
    }

} // namespace

frmShot::frmShot(const ShotForm::Services& services, Common::Pickers& pickers, QWidget* parent)
    : QDialog(parent)
    , m_form(new ShotForm(services, this))
    , m_pickers(pickers)
{
    setObjectName(QStringLiteral("frmShot"));
    setWindowTitle(tr("Snapshotter"));
    setModal(true);
    resize(800, 600);

    m_txtAddress = new QLineEdit(m_form->initialAddress(), this);
    m_txtAddress->setObjectName(QStringLiteral("txtAddress"));
    connect(m_txtAddress, &QLineEdit::returnPressed, this, &frmShot::snapshotClicked);

    m_scrollZoom = new QScrollBar(Qt::Horizontal, this);
    m_scrollZoom->setObjectName(QStringLiteral("scrollZoom"));
    m_scrollZoom->setRange(ShotForm::MinimumZoom, ShotForm::MaximumZoom);
    m_scrollZoom->setSingleStep(1);
    m_scrollZoom->setPageStep(10);
    m_scrollZoom->setValue(m_form->zoom());
    m_scrollZoom->setMinimumWidth(100);
    connect(m_scrollZoom, &QScrollBar::valueChanged, m_form, &ShotForm::setZoom);
    m_lblZoom = makeLabel(QStringLiteral("lblZoom"), this);
    m_lblZoom->setText(percentText(m_form->zoom()));
    m_lblZoom->setMinimumWidth(m_lblZoom->fontMetrics().horizontalAdvance(QStringLiteral("400%")));

    m_txtWidth = makeSizeBox(QStringLiteral("txtWidth"), m_form->initialWidth(), this);
    m_txtHeight = makeSizeBox(QStringLiteral("txtHeight"), m_form->initialHeight(), this);
    m_lblWidth = makeLabel(QStringLiteral("lblWidth"), this);
    m_lblHeight = makeLabel(QStringLiteral("lblHeight"), this);
    // Room for the largest size a capture can have, so a narrow window never cuts a number short.
    for (QLabel* size : { m_lblWidth, m_lblHeight })
        size->setMinimumWidth(size->fontMetrics().horizontalAdvance(QStringLiteral("16384")));

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(new QLabel(tr("Address:"), this));
    addressRow->addWidget(m_txtAddress, 1);
    addressRow->addWidget(addButton(QStringLiteral("cmdSnapshot"), tr("Snapshot"), &frmShot::snapshotClicked));
    addressRow->addSpacing(8);
    addressRow->addWidget(new QLabel(tr("Captured:"), this));
    addressRow->addWidget(m_lblWidth);
    addressRow->addWidget(new QLabel(QStringLiteral("x"), this));
    addressRow->addWidget(m_lblHeight);

    auto* editRow = new QHBoxLayout;
    editRow->addWidget(addButton(QStringLiteral("cmdBlackAndWhite"), tr("B && W"), &frmShot::blackAndWhiteClicked));
    editRow->addWidget(addButton(QStringLiteral("cmdGray"), tr("Gray"), &frmShot::grayClicked));
    editRow->addWidget(addButton(QStringLiteral("cmdOriginal"), tr("Back to Original"), &frmShot::originalClicked));
    editRow->addSpacing(8);
    editRow->addWidget(new QLabel(tr("Zoom:"), this));
    editRow->addWidget(m_scrollZoom, 1);
    editRow->addWidget(m_lblZoom);
    editRow->addSpacing(8);
    editRow->addWidget(m_txtWidth);
    editRow->addWidget(new QLabel(QStringLiteral("x"), this));
    editRow->addWidget(m_txtHeight);
    editRow->addWidget(addButton(QStringLiteral("cmdReSize"), tr("Resize"), &frmShot::resizeClicked));
    editRow->addWidget(addButton(QStringLiteral("cmdSave"), tr("Save As"), &frmShot::saveClicked));

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    m_viewer = new Imaging::PictureDisplay;
    m_viewer->setObjectName(QStringLiteral("Viewer"));
    auto* area = new QScrollArea(this);
    area->setWidget(m_viewer);
    area->setBackgroundRole(QPalette::Base);

    QStatusBar* statusBar = Common::statusBarWithPanel(&m_statusPanel, this);
    m_progressPanel = makeLabel(QStringLiteral("sbStatusBarPanel2"), statusBar);
    m_progressPanel->setMinimumWidth(m_progressPanel->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 8);
    statusBar->addPermanentWidget(m_progressPanel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 6, 0, 0);
    auto* controls = new QVBoxLayout;
    controls->setContentsMargins(8, 0, 8, 0);
    controls->addLayout(addressRow);
    controls->addLayout(editRow);
    layout->addLayout(controls);
    layout->addWidget(line);
    layout->addWidget(area, 1);
    layout->addWidget(statusBar);

    connect(m_form, &ShotForm::statusChanged, m_statusPanel, &QLabel::setText);
    connect(m_form, &ShotForm::progressChanged, m_progressPanel, &QLabel::setText);
    connect(m_form, &ShotForm::pictureChanged, this, &frmShot::showPicture);
    connect(m_form, &ShotForm::zoomChanged, this, &frmShot::showZoom);
    connect(m_form, &ShotForm::imageSizeChanged, this, [this](const QString& width, const QString& height) {
        m_lblWidth->setText(width);
        m_lblHeight->setText(height);
    });
    connect(m_form, &ShotForm::sizeBoxesChanged, this, [this](const QString& width, const QString& height) {
        m_txtWidth->setText(width);
        m_txtHeight->setText(height);
    });
    // The other buttons stay usable during a capture; only the cursor tells that one runs.
    connect(m_form, &ShotForm::capturingChanged, this, [this](bool capturing) {
        if (capturing)
            setCursor(Qt::BusyCursor);
        else
            unsetCursor();
    });
    connect(m_form, &ShotForm::workingChanged, this, [](bool working) {
        if (working)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    });
    m_txtAddress->setFocus();
}

frmShot::~frmShot() = default;

QString frmShot::statusText() const { return m_statusPanel->text(); }
QString frmShot::progressText() const { return m_progressPanel->text(); }

void frmShot::done(int result)
{
    m_form->cancelCapture();
    QDialog::done(result);
}

QPushButton* frmShot::addButton(const QString& name, const QString& caption, void (frmShot::*handler)())
{
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    // Enter belongs to the address box; no button takes it over.
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, handler);
    return button;
}

void frmShot::snapshotClicked()
{
    if (!m_form->Snapshot(m_txtAddress->text()))
        m_txtAddress->setFocus();
}

void frmShot::blackAndWhiteClicked() { m_form->convertToBlackWhite(); }
void frmShot::grayClicked() { m_form->convertToGray(); }
void frmShot::originalClicked() { m_form->backToOriginal(); }

void frmShot::resizeClicked() { m_form->resize(m_txtWidth->text(), m_txtHeight->text()); }

void frmShot::saveClicked()
{
    const QString name = m_pickers.saveFile(tr("Save Snapshot Image"), saveFilter());
    if (name.isEmpty())
        return;
    m_form->saveAs(name);
}

void frmShot::showPicture() { m_viewer->setPicture(m_form->viewer().image(), m_form->viewer().zoom()); }

void frmShot::showZoom(int percent)
{
    const QSignalBlocker quiet(m_scrollZoom);
    m_scrollZoom->setValue(percent);
    m_lblZoom->setText(percentText(percent));
}

} // namespace Snapshotter

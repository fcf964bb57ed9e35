#include "capture/htmlsnapshot.h"

#include <chrono>

#include "capture/browserhost.h"
#include "capture/htmlsnap.h"
#include "capture/pageopener.h"

namespace Capture {

namespace {

    quint32 systemTicks()
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<quint32>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }

} // namespace

HtmlSnapshot::HtmlSnapshot(BrowserHost* host, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_ticks(systemTicks)
{
    createEngine();
    m_engine->Clear();
    m_startTick = now();
}

HtmlSnapshot::~HtmlSnapshot() = default;

void HtmlSnapshot::createEngine()
{
    m_engine = new HtmlSnap(m_host, this);
    m_engine->setThumbnailHint(m_thumbnailHint);
    m_engine->setSparePage(m_sparePage);
    connect(m_engine, &HtmlSnap::OnStatus, this, &HtmlSnapshot::handleEngineStatus);
    connect(m_engine, &HtmlSnap::OnProgress, this, &HtmlSnapshot::handleEngineProgress);
}

void HtmlSnapshot::Reset()
{
    HtmlSnap* old = std::exchange(m_engine, nullptr);
    old->Clear();
    disconnect(old, nullptr, this, nullptr);
    // The reset may come from inside the old engine's own event.
    old->deleteLater();
    createEngine();

    m_statusCode = 0;
    m_finished = false;
    m_busy = false;
    m_success = false;
    m_ready = true;
    m_startTick = now();
    m_listItem = QVariant();
}

void HtmlSnapshot::SnapUrl(const QString& strURL, const QString& strPicFile)
{
    m_statusCode = 0;
    m_finished = false;
    m_busy = true;
    m_success = false;
    m_startTick = now();
    m_engine->SnapUrl(strURL, strPicFile);
}

quint32 HtmlSnapshot::now() const { return m_ticks(); }

PageFacts HtmlSnapshot::pageFacts() const
{
    PageFacts facts = m_engine->pageFacts();
    if (m_busy && !m_finished)
        facts.elapsedMs = static_cast<quint32>(now() - m_startTick);
    return facts;
}

void HtmlSnapshot::setTickSource(TickSource ticks)
{
    m_ticks = ticks ? std::move(ticks) : TickSource(systemTicks);
    m_startTick = now();
}

int HtmlSnapshot::ElapsedTime() const
{
    // Unsigned subtraction stays right across the counter's wrap.
    const quint32 elapsed = now() - m_startTick;
    quint32 seconds = elapsed / 1000;
    const quint32 rest = elapsed % 1000;
    if (rest > 500 || (rest == 500 && (seconds & 1u) != 0))
        ++seconds;
    return static_cast<int>(seconds);
}

void HtmlSnapshot::handleEngineStatus(const QString& text, int code)
{
    if (m_finished)
        return;
    QPointer<HtmlSnapshot> self(this);
    Q_EMIT OnStatus(m_id, text, code);
    if (!self)
        return;
    if (code == 0) {
        m_statusCode = 0;
        return;
    }
    m_finished = true;
    m_busy = false;
    m_statusCode = code;
    if (code == 1)
        m_success = true;
}

void HtmlSnapshot::handleEngineProgress(int percent)
{
    m_progress = percent;
    Q_EMIT OnProgress(m_id, percent);
}

void HtmlSnapshot::GetThumbImageBytes(QByteArray& ImgArray, const QString& strFormat, int cx, int cy, bool bRemainRatio)
{
    if (m_engine->GetErrorCode() != 1)
        return;
    const auto bytes = m_engine->GetThumbImageBytes(strFormat, cx, cy, bRemainRatio ? 1 : 0);
    if (!bytes) {
        m_engine->Clear();
        return;
    }
    ImgArray = bytes.value();
}

QByteArray HtmlSnapshot::GetThumbImageBytesX(const QString& strFormat, int cx, int cy, bool bRemainRatio)
{
    QByteArray bytes;
    GetThumbImageBytes(bytes, strFormat, cx, cy, bRemainRatio);
    return bytes;
}

CapturedImage HtmlSnapshot::capturedImage() const { return m_engine->capturedImage(); }

void HtmlSnapshot::GetThumbnailImage(
    const QString& strInputFile, const QString& strOutputFile, int cx, int cy, bool bRemainRatio)
{
    HtmlSnap::GetThumbnailImage(strInputFile, strOutputFile, cx, cy, bRemainRatio ? 1 : 0);
}

bool HtmlSnapshot::Ready() const { return m_ready; }

void HtmlSnapshot::setReady(bool ready)
{
    m_ready = ready;
    if (ready) {
        m_finished = false;
        m_busy = false;
        m_success = false;
    }
}

bool HtmlSnapshot::Busy() const { return m_busy; }
bool HtmlSnapshot::Finished() const { return m_finished; }
void HtmlSnapshot::setFinished(bool finished) { m_finished = finished; }
bool HtmlSnapshot::Success() const { return m_success; }
int HtmlSnapshot::Progress() const { return m_progress; }
int HtmlSnapshot::StatusCode() const { return m_statusCode; }

void HtmlSnapshot::SetTimeOut(int nTimeOut) { m_engine->SetTimeOut(nTimeOut); }
void HtmlSnapshot::SetJPEGQuality(int nQuality) { m_engine->SetJPEGQuality(nQuality); }
void HtmlSnapshot::SetAsync(bool) { m_engine->SetAsync(1); }
void HtmlSnapshot::EnableActiveX(int bVal) { m_engine->EnableActiveX(bVal); }
void HtmlSnapshot::EnableJava(int bVal) { m_engine->EnableJava(bVal); }
void HtmlSnapshot::EnableScript(int bVal) { m_engine->EnableScript(bVal); }
void HtmlSnapshot::SetForceSnap(int bForceSnap) { m_engine->SetForceSnap(bForceSnap); }
void HtmlSnapshot::SetDelayTime(int nDelayTime) { m_engine->SetDelayTime(nDelayTime); }
void HtmlSnapshot::setFastDelay(bool on) { m_engine->setFastDelay(on); }
void HtmlSnapshot::setBlankCheck(bool on) { m_engine->setBlankCheck(on); }
void HtmlSnapshot::setDismissConsentWalls(bool on) { m_engine->setDismissConsentWalls(on); }
void HtmlSnapshot::SetSnapDimension(int cx, int cy) { m_engine->SetSnapDimension(cx, cy); }
void HtmlSnapshot::EnableSnapDimensionAsImageSize(int bVal) { m_engine->EnableSnapDimensionAsImageSize(bVal); }
void HtmlSnapshot::SetZoom(double fZoomRatio) { m_engine->SetZoom(fZoomRatio); }
void HtmlSnapshot::WaitUntilDone(int) { }

void HtmlSnapshot::DrawTxt(int X, int Y, const QString& strText, int FontSize, int nColor, const QString& strFontName)
{
    m_engine->DrawTxt(X, Y, strText, FontSize, nColor, strFontName);
}

void HtmlSnapshot::ReduceColor(const QString& strInputFile, const QString& strOutputFile, int nColors)
{
    HtmlSnap::ReduceColor(strInputFile, strOutputFile, nColors);
}

void HtmlSnapshot::MakeGrayImage(const QString& strInputFile, const QString& strOutputFile, bool bGrayOrBW)
{
    HtmlSnap::MakeGrayImage(strInputFile, strOutputFile, bGrayOrBW ? 1 : 0);
}

int HtmlSnapshot::GetImageWidth() const { return m_engine->GetImageWidth(); }
int HtmlSnapshot::GetImageHeight() const { return m_engine->GetImageHeight(); }
qintptr HtmlSnapshot::GetBitmapHandle() const { return 0; }
void HtmlSnapshot::SaveImage(const QString& strPicFile) { m_engine->SaveImage(strPicFile); }
int HtmlSnapshot::GetErrorCode() const { return m_engine->GetErrorCode(); }
QString HtmlSnapshot::StatusText() const { return statusTextFor(m_engine->GetErrorCode()); }
void HtmlSnapshot::Clear() { m_engine->Clear(); }

QString HtmlSnapshot::statusTextFor(int code)
{
    switch (code) {
    case -5:
        return QStringLiteral("The page is blank");
    case -4:
        return QStringLiteral("Time is out before taking a snapshot");
    case -3:
        return QStringLiteral("Fail to open the URL");
    case -2:
        return QStringLiteral("Fail to save to file");
    case -1:
        return QStringLiteral("Fail to take the snapshot of the page");
    case 0:
        return QStringLiteral("Normal");
    case 1:
        return QStringLiteral("The snapshot is successfully taken");
    default:
        return {};
    }
}

int HtmlSnapshot::ID() const { return m_id; }
void HtmlSnapshot::setID(int id) { m_id = id; }
QString HtmlSnapshot::LinkID() const { return m_linkId; }
void HtmlSnapshot::setLinkID(const QString& linkId) { m_linkId = linkId; }
QString HtmlSnapshot::LinkURL() const { return m_linkUrl; }
void HtmlSnapshot::setLinkURL(const QString& linkUrl) { m_linkUrl = linkUrl; }
QString HtmlSnapshot::ImageFile() const { return m_imageFile; }
void HtmlSnapshot::setImageFile(const QString& imageFile) { m_imageFile = imageFile; }
QString HtmlSnapshot::OutputFile() const { return m_outputFile; }
void HtmlSnapshot::setOutputFile(const QString& outputFile) { m_outputFile = outputFile; }
QVariant HtmlSnapshot::ListItem() const { return m_listItem; }
void HtmlSnapshot::setListItem(const QVariant& listItem) { m_listItem = listItem; }
HtmlSnap* HtmlSnapshot::engine() const { return m_engine; }

void HtmlSnapshot::setThumbnailHint(QSize size)
{
    m_thumbnailHint = size;
    m_engine->setThumbnailHint(size);
}

void HtmlSnapshot::setSparePage(SparePage* spare)
{
    m_sparePage = spare;
    m_engine->setSparePage(spare);
}

} // namespace Capture

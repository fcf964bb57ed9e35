#include "capturetestsupport.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

#include "capture/devtoolsconnection.h"
#include "capture/htmlsnap.h"

namespace CaptureTest {

Capture::BrowserOptions testBrowserOptions()
{
    Capture::BrowserOptions options;
    options.extraArguments << QStringLiteral(
        "--host-resolver-rules=MAP *.test 127.0.0.1, MAP * ~NOTFOUND, EXCLUDE 127.0.0.*");
    options.profilePrefix = QStringLiteral("pictavo-test-browser");
    // ctest names the build's program folder, where the build copies the consent rules.
    if (const QString shipped = qEnvironmentVariable("PICTAVO_RESOURCES_DIR"); !shipped.isEmpty())
        options.shippedFiles = shipped + QLatin1Char('/');
    return options;
}

int pageTargetCount(Capture::BrowserHost& host)
{
    int count = -1;
    bool answered = false;
    QObject context;
    host.whenReady(&context, [&](const Common::Result<Capture::DevToolsConnection*>& connection) {
        if (!connection) {
            answered = true;
            return;
        }
        connection.value()->call({}, QStringLiteral("Target.getTargets"), {}, std::chrono::seconds(10), &context,
            [&](const Capture::DevToolsConnection::Reply& reply) {
                answered = true;
                if (!reply)
                    return;
                int pages = 0;
                const QJsonArray targets = reply.value().value(QLatin1String("targetInfos")).toArray();
                for (const auto& target : targets)
                    pages += target.toObject().value(QLatin1String("type")).toString() == QLatin1String("page");
                count = pages;
            });
    });
    return QTest::qWaitFor([&answered] { return answered; }, 20000) ? count : -1;
}

Outcome capture(Capture::HtmlSnap& snap, const QString& url, const QString& file, int waitMs)
{
    Outcome outcome;
    QSignalSpy spy(&snap, &Capture::HtmlSnap::OnStatus);
    QElapsedTimer timer;
    timer.start();
    QList<qint64> arrivals;
    QObject context;
    QObject::connect(&snap, &Capture::HtmlSnap::OnStatus, &context,
        [&arrivals, &timer](const QString&, int) { arrivals << timer.elapsed(); });
    snap.SnapUrl(url, file);
    qsizetype seen = 0;
    while (timer.elapsed() < waitMs) {
        for (; seen < spy.size(); ++seen) {
            const int code = spy.at(seen).at(1).toInt();
            if (code == 0) {
                outcome.progressTexts << spy.at(seen).at(0).toString();
                outcome.progressMs << arrivals.value(seen);
                continue;
            }
            if (outcome.finalEvents++ == 0) {
                outcome.code = code;
                outcome.text = spy.at(seen).at(0).toString();
                outcome.elapsedMs = timer.elapsed();
            }
        }
        if (outcome.finalEvents > 0)
            break;
        spy.wait(200);
    }
    return outcome;
}

QImage capturedImage(const Capture::HtmlSnap& snap)
{
    return QImage::fromData(snap.imageBytes(), snap.imageFormat().toLatin1().constData());
}

bool sameColour(QRgb actual, QColor expected, int tolerance)
{
    return std::abs(qRed(actual) - expected.red()) <= tolerance
        && std::abs(qGreen(actual) - expected.green()) <= tolerance
        && std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

bool processGroupGone(qint64 pid)
{
    if (pid <= 0)
        return true;
    return ::kill(-static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace CaptureTest

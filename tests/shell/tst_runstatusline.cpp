#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "batch/batchrun.h"
#include "batch/capturecompletion.h"
#include "batch/linkslistmodel.h"
#include "batch/runreport.h"
#include "common/thumbnailmodel.h"
#include "scriptedmessagebox.h"
#include "settings/hive.h"
#include "settings/livesettings.h"
#include "shell/runstatusline.h"

// Runs over links without a host, which end without a browser.
class TestRunStatusLine final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reportFailureIsToldAfterTheRun_data()
    {
        QTest::addColumn<bool>("reportsBlocked");
        QTest::newRow("report written") << false;
        QTest::newRow("reports folder cannot be made") << true;
    }
    void reportFailureIsToldAfterTheRun()
    {
        QFETCH(bool, reportsBlocked);
        QTemporaryDir dir;
        const QString app = dir.path() + QLatin1Char('/');
        QVERIFY(QDir().mkpath(app + QStringLiteral("data")));
        QFile links(app + QStringLiteral("data/LinksInfo.txt"));
        QVERIFY(links.open(QIODevice::WriteOnly) && links.write("1|x\r\n2|y\r\n") > 0);
        links.close();
        if (reportsBlocked) {
            QFile blocker(app + QStringLiteral("data/reports"));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        Settings::Hive hive(dir.filePath(QStringLiteral("registry.db")));
        Settings::LiveSettings settings = Settings::LoadSettings(hive, app);
        Batch::LinksDatabase database(links.fileName());
        Batch::LinksListModel rows;
        Common::ThumbnailModel strip;
        TestSupport::ScriptedMessageBox boxes;
        Batch::CaptureCompletion completion({ settings, rows, strip, boxes, app, {}, {} });
        Batch::BatchRun run({ settings, database, rows, completion, nullptr, boxes, app });
        Batch::RunReport report(run, app + QStringLiteral("data/reports"));
        Shell::RunStatusLine line(run, report, boxes);
        QSignalSpy status(&line, &Shell::RunStatusLine::statusChanged);
        qsizetype boxesDuringRun = -1;
        connect(&run, &Batch::BatchRun::linkEnded, this, [&] { boxesDuringRun = boxes.shown().size(); });
        QSignalSpy finished(&run, &Batch::BatchRun::finished);

        QVERIFY(run.StartSnapShots(QStringLiteral("1"), QStringLiteral("2"), false));
        QVERIFY(finished.wait());
        QCOMPARE(boxesDuringRun, 0); // a box would hold up the links behind it
        QCOMPARE(boxes.shown().size(), reportsBlocked ? 1 : 0);
        QTRY_VERIFY(!status.isEmpty());
        const QString said = status.last().first().toString();
        QVERIFY2(said.contains(reportsBlocked ? report.errorText() : report.filePath()), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(TestRunStatusLine)
#include "tst_runstatusline.moc"

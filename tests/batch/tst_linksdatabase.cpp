#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "batch/linksdatabase.h"
#include "scriptedmessagebox.h"

using namespace Batch;
using TestSupport::ScriptedMessageBox;

namespace {

QString writeFile(
    const QTemporaryDir& dir, const QByteArray& bytes, const QString& name = QStringLiteral("LinksInfo.txt"))
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write the test file");
    file.write(bytes);
    return path;
}

QStringList readAll(const QString& path)
{
    LineReader reader;
    if (!reader.open(path))
        return { QStringLiteral("<cannot open>") };
    QStringList lines;
    while (std::optional<QString> line = reader.readLine())
        lines.append(*line);
    return lines;
}

// Every file handle of the process is taken while it lives, so no file can be opened: the one way a
// test running as root meets a file it cannot read.
class NoFileHandlesLeft final {
public:
    NoFileHandlesLeft()
    {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        rlimit low = m_saved;
        low.rlim_cur = std::min<rlim_t>(m_saved.rlim_cur, 128);
        setrlimit(RLIMIT_NOFILE, &low);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
            m_taken.push_back(fd);
    }
    ~NoFileHandlesLeft()
    {
        for (const int fd : m_taken)
            ::close(fd);
        setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    NoFileHandlesLeft(const NoFileHandlesLeft&) = delete;
    NoFileHandlesLeft& operator=(const NoFileHandlesLeft&) = delete;

private:
    rlimit m_saved {};
    std::vector<int> m_taken;
};

} // namespace

class TestLinksDatabase final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lineEndings_data();
    void lineEndings();
    void crLfAcrossBlocks();
    void split_data();
    void split();
    void countLinks();
    void databaseCheck();
    void rangeValidation_data();
    void rangeValidation();
    void rangeOfOneLineIsRefused();
    void readsARange_data();
    void readsARange();
    void largeDatabase();
};

void TestLinksDatabase::lineEndings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    const QStringList abc { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") };
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\nc\r\n") << abc;
    QTest::newRow("LF") << QByteArray("a\nb\nc\n") << abc;
    QTest::newRow("CR") << QByteArray("a\rb\rc\r") << abc;
    QTest::newRow("mixed, no last terminator") << QByteArray("a\r\nb\nc") << abc;
    QTest::newRow("empty middle line") << QByteArray("a\r\n\r\nc\r\n")
                                       << QStringList { QStringLiteral("a"), QString(), QStringLiteral("c") };
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb")
                                       << QStringList { QStringLiteral("a"), QString(), QStringLiteral("b") };
    QTest::newRow("trailing blank lines")
        << QByteArray("a\r\n\r\n\r\n") << QStringList { QStringLiteral("a"), QString(), QString() };
    QTest::newRow("only blank lines") << QByteArray("\n\n") << QStringList { QString(), QString() };
    QTest::newRow("UTF-8") << QByteArray("1|http://b\xc3\xbc"
                                         "cher.de\n")
                           << QStringList { QStringLiteral("1|http://b\u00fccher.de") };
}

void TestLinksDatabase::lineEndings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    const QString path = writeFile(dir, bytes);
    QCOMPARE(readAll(path), lines);
    QCOMPARE(LineReader::countLines(path).value(), lines.size());
}

void TestLinksDatabase::crLfAcrossBlocks()
{
    // The reader works in 64 KiB blocks: a CR LF split between two blocks is still one line end.
    QTemporaryDir dir;
    QByteArray bytes(64 * 1024 - 1, 'x');
    bytes += "\r\nnext\r";
    const QString path = writeFile(dir, bytes);
    const QStringList lines = readAll(path);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0).size(), 64 * 1024 - 1);
    QCOMPARE(lines.at(1), QStringLiteral("next"));
    QCOMPARE(LineReader::countLines(path).value(), 2);
}

void TestLinksDatabase::split_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("url");
    QTest::newRow("two fields") << QStringLiteral("17|http://Example.com/A") << QStringLiteral("17")
                                << QStringLiteral("http://Example.com/A");
    QTest::newRow("four fields") << QStringLiteral("1|http://a.org|title|x") << QStringLiteral("1")
                                 << QStringLiteral("http://a.org");
    QTest::newRow("no bar") << QStringLiteral("http://a.org") << QStringLiteral("http://a.org") << QString();
    QTest::newRow("empty line") << QString() << QString() << QString();
    QTest::newRow("empty fields") << QStringLiteral("||") << QString() << QString();
    QTest::newRow("blanks kept") << QStringLiteral(" 5 | u ") << QStringLiteral(" 5 ") << QStringLiteral(" u ");
}

void TestLinksDatabase::split()
{
    QFETCH(QString, line);
    const LinkRecord record = LinkRecord::fromLine(line);
    QTEST(record.id, "id");
    QTEST(record.url, "url");
}

void TestLinksDatabase::countLinks()
{
    QTemporaryDir dir;
    LinksDatabase missing(dir.filePath(QStringLiteral("none.txt")));
    QCOMPARE(missing.CountLinks(), 0);

    LinksDatabase db(writeFile(dir, "1|a\r\n\r\n3|c"));
    QCOMPARE(db.CountLinks(), 3);
    QCOMPARE(db.TotalLinks(), 3);
    QVERIFY(QFile::remove(db.LinksInfoFile()));
    QCOMPARE(db.CountLinks(), 0);
    QCOMPARE(db.TotalLinks(), 3); // a missing file leaves the last count alone
}

void TestLinksDatabase::databaseCheck()
{
    QTemporaryDir dir;
    const QString title = QStringLiteral("Database Error");
    const QString empty
        = QStringLiteral("LinksInfoFile links database file is empty!. Please import your links first.");
    {
        ScriptedMessageBox boxes;
        QStringList status;
        LinksDatabase db(dir.filePath(QStringLiteral("none.txt")));
        QVERIFY(!db.checkDatabase(boxes, [&](const QString& s) { status << s; }));
        QCOMPARE(boxes.texts(), QStringList { QStringLiteral("LinksInfoFile links database file does not exist!") });
        QCOMPARE(boxes.shown().at(0).title, title);
        QCOMPARE(boxes.shown().at(0).icon, Common::MessageBox::Icon::Critical);
        QVERIFY(status.isEmpty());
    }
    {
        ScriptedMessageBox boxes;
        LinksDatabase db(writeFile(dir, QByteArray(), QStringLiteral("zero.txt")));
        QVERIFY(!db.checkDatabase(boxes, {}));
        QCOMPARE(boxes.texts(), QStringList { empty });
    }
    {
        ScriptedMessageBox boxes;
        QStringList status;
        LinksDatabase db(writeFile(dir, "\n\n", QStringLiteral("blank.txt")));
        QVERIFY(db.checkDatabase(boxes, [&](const QString& s) { status << s; }));
        QVERIFY(boxes.shown().isEmpty());
        QCOMPARE(status,
            (QStringList { QStringLiteral("Calculating the total links in the local database"),
                QStringLiteral("Total database links: 2") }));
    }
    {
        // A database that cannot be read is not an empty one: that would invite an import over it.
        ScriptedMessageBox boxes;
        QStringList status;
        LinksDatabase db(writeFile(dir, "1|a\r\n2|b\r\n", QStringLiteral("unreadable.txt")));
        QCOMPARE(db.CountLinks(), 2);
        bool checked = false;
        {
            const NoFileHandlesLeft exhausted;
            checked = db.checkDatabase(boxes, [&](const QString& s) { status << s; });
        }
        QVERIFY(!checked);
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY2(boxes.texts().first().startsWith(QStringLiteral("Error: ")), qPrintable(boxes.texts().first()));
        QCOMPARE(boxes.shown().first().title, title);
        QCOMPARE(status.last(), boxes.texts().first());
        QCOMPARE(db.TotalLinks(), 2);
        QCOMPARE(readAll(db.LinksInfoFile()), (QStringList { QStringLiteral("1|a"), QStringLiteral("2|b") }));
    }
}

void TestLinksDatabase::rangeValidation_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("selected");
    QTest::newRow("whole file") << QStringLiteral("1") << QStringLiteral("8") << 8 << 1 << 8 << 8;
    QTest::newRow("zero start") << QStringLiteral("0") << QStringLiteral("10") << 8 << 1 << 8 << 8;
    QTest::newRow("beyond the end") << QStringLiteral("20") << QStringLiteral("30") << 8 << 1 << 8 << 8;
    QTest::newRow("negative") << QStringLiteral("-3") << QStringLiteral("6") << 8 << 3 << 6 << 4;
    QTest::newRow("reversed") << QStringLiteral("9") << QStringLiteral("4") << 10 << 9 << 4 << 6;
    QTest::newRow("empty boxes") << QStringLiteral("  ") << QString() << 8 << 1 << 8 << 8;
    QTest::newRow("blanks trimmed") << QStringLiteral(" 2 ") << QStringLiteral(" 5") << 8 << 2 << 5 << 4;
    QTest::newRow("not numbers") << QStringLiteral("abc") << QStringLiteral("x7") << 8 << 1 << 8 << 8;
    QTest::newRow("fraction, halves to even") << QStringLiteral("2.5") << QStringLiteral("5.5") << 8 << 2 << 6 << 5;
    QTest::newRow("too large for 32 bits")
        << QStringLiteral("99999999999") << QStringLiteral("-2147483648") << 8 << 1 << 8 << 8;
    QTest::newRow("end zero") << QStringLiteral("1") << QStringLiteral("0") << 8 << 1 << 1 << 1;
}

void TestLinksDatabase::rangeValidation()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, count);
    const LinkRange range = validateRange(from, to, count);
    QTEST(range.StartLink, "start");
    QTEST(range.EndLink, "end");
    QTEST(range.selectedCount(), "selected");
    QCOMPARE(range.fromText, QString::number(range.StartLink));
    QCOMPARE(range.toText, QString::number(range.EndLink));
}

void TestLinksDatabase::rangeOfOneLineIsRefused()
{
    QTemporaryDir dir;
    LinksDatabase db(writeFile(dir, "a\nb\nc\nd\ne\nf\n"));
    QCOMPARE(db.CountLinks(), 6);
    ScriptedMessageBox boxes;
    QStringList status;
    QString from = QStringLiteral("5");
    QString to = QStringLiteral(" 5 ");
    QVERIFY(!db.validateRange(from, to, boxes, [&](const QString& s) { status << s; }));
    QCOMPARE(boxes.texts(),
        QStringList { QStringLiteral("No range selected!. Please import your links and select a range.") });
    QCOMPARE(status, QStringList { QStringLiteral("Emtpy range selected") });
    QCOMPARE(to, QStringLiteral("5"));
    QCOMPARE(db.validateRange(from, to, boxes, {}, RangeMinimum::OneLine), std::optional<qint32>(1));

    from = QStringLiteral("2");
    to = QString();
    QCOMPARE(db.validateRange(from, to, boxes, {}), std::optional<qint32>(5));
    QCOMPARE(to, QStringLiteral("6"));
    QCOMPARE(db.StartLink(), 2);
    QCOMPARE(db.EndLink(), 6);
}

void TestLinksDatabase::readsARange_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<int>("lastLine");
    QTest::newRow("all") << 1 << 5
                         << QStringList { QStringLiteral("1"), QString(), QStringLiteral("3"), QStringLiteral("4"),
                                QStringLiteral("5") }
                         << 5;
    QTest::newRow("middle") << 2 << 3 << QStringList { QString(), QStringLiteral("3") } << 3;
    QTest::newRow("past the end") << 4 << 9 << QStringList { QStringLiteral("4"), QStringLiteral("5") } << 5;
    QTest::newRow("reversed reads nothing") << 4 << 2 << QStringList() << 4;
    QTest::newRow("start beyond the file") << 9 << 12 << QStringList() << 5;
}

void TestLinksDatabase::readsARange()
{
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QStringList, ids);
    QTemporaryDir dir;
    const QString path = writeFile(dir, "1|http://a.org\r\n\r\n3|http://c.org|x\r\n4|d\n5|e");
    RangeReader reader;
    QVERIFY(reader.open(path, start, end).ok());
    QStringList got;
    int previousLine = start - 1;
    while (!reader.isExhausted()) {
        const std::optional<RangeReader::Entry> entry = reader.next();
        if (!entry)
            break;
        QCOMPARE(entry->line, previousLine + 1);
        previousLine = entry->line;
        got << entry->record.id;
        if (entry->record.id == QLatin1String("3"))
            QCOMPARE(entry->record.url, QStringLiteral("http://c.org"));
    }
    QCOMPARE(got, ids);
    QTEST(reader.CurrentLine(), "lastLine");
    QVERIFY(reader.isExhausted());
    QVERIFY(!reader.next());
    reader.close();
}

void TestLinksDatabase::largeDatabase()
{
    QTemporaryDir dir;
    QByteArray bytes;
    constexpr int Lines = 200000;
    bytes.reserve(Lines * 32);
    for (int i = 1; i <= Lines; ++i)
        bytes += QByteArray::number(i) + "|http://site" + QByteArray::number(i) + ".test/\r\n";
    LinksDatabase db(writeFile(dir, bytes));
    QCOMPARE(db.CountLinks(), Lines);
    RangeReader reader;
    QVERIFY(reader.open(db.LinksInfoFile(), Lines - 1, Lines).ok());
    QCOMPARE(reader.next()->record.id, QString::number(Lines - 1));
    QCOMPARE(reader.next()->record.url, QStringLiteral("http://site%1.test/").arg(Lines));
    QVERIFY(reader.isExhausted());
}

QTEST_GUILESS_MAIN(TestLinksDatabase)
#include "tst_linksdatabase.moc"

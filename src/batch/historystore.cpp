#include "batch/historystore.h"

#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace Batch {

namespace {

    // Marks the file as this program's history, so that another SQLite file at its path is left alone.
    constexpr int kApplicationId = 0x50435248;
    constexpr int kSchemaVersion = 1;
    // The review window or the command line may be reading for a moment.
    constexpr int kBusyTimeoutMs = 5000;
    const QString kSource = QStringLiteral("HistoryStore");

    const char* const kSchema = "CREATE TABLE links ("
                                " link INTEGER PRIMARY KEY, id TEXT NOT NULL, url TEXT NOT NULL, UNIQUE (id, url));"
                                "CREATE TABLE runs (run INTEGER PRIMARY KEY, started INTEGER NOT NULL, ended INTEGER);"
                                "CREATE TABLE seen ("
                                " link INTEGER NOT NULL, run INTEGER NOT NULL, line INTEGER NOT NULL,"
                                " outcome TEXT NOT NULL, http_status INTEGER NOT NULL, final_url TEXT NOT NULL,"
                                " title TEXT NOT NULL, page TEXT NOT NULL, look BLOB, thumbnail BLOB,"
                                " change TEXT NOT NULL, since INTEGER NOT NULL, last_worked INTEGER NOT NULL,"
                                " failed_runs INTEGER NOT NULL, PRIMARY KEY (link, run)) WITHOUT ROWID;"
                                "CREATE INDEX seen_by_run ON seen (run, line);";

    // Bound texts and blobs are not copied by SQLite, so the statement keeps them until it is finalised.
    class Statement final {
    public:
        Statement(sqlite3* db, const QByteArray& sql)
        {
            m_ok = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &m_stmt, nullptr) == SQLITE_OK;
        }
        ~Statement() { sqlite3_finalize(m_stmt); }
        Q_DISABLE_COPY_MOVE(Statement)

        void bind(int index, qint64 value)
        {
            if (m_ok)
                m_ok = sqlite3_bind_int64(m_stmt, index, value) == SQLITE_OK;
        }
        void bind(int index, const QString& text)
        {
            m_kept.append(text.toUtf8());
            const QByteArray& utf8 = m_kept.constLast();
            if (m_ok)
                m_ok = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), nullptr) == SQLITE_OK;
        }
        // An empty blob binds NULL.
        void bindBlob(int index, const QByteArray& data)
        {
            m_kept.append(data);
            const QByteArray& kept = m_kept.constLast();
            if (m_ok)
                m_ok = (kept.isEmpty() ? sqlite3_bind_null(m_stmt, index)
                                       : sqlite3_bind_blob(m_stmt, index, kept.constData(), int(kept.size()), nullptr))
                    == SQLITE_OK;
        }
        int step() { return m_ok ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
        bool run()
        {
            const bool done = step() == SQLITE_DONE;
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
            m_kept.clear();
            return done;
        }
        qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
        QString text(int column) const
        {
            const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
            return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
        }
        QByteArray blob(int column) const
        {
            const void* data = sqlite3_column_blob(m_stmt, column);
            const int size = sqlite3_column_bytes(m_stmt, column);
            return data ? QByteArray(static_cast<const char*>(data), size) : QByteArray();
        }

    private:
        sqlite3_stmt* m_stmt = nullptr;
        bool m_ok = false;
        QList<QByteArray> m_kept;
    };

    QByteArray lookBytes(const std::optional<Imaging::LookHash>& look)
    {
        if (!look)
            return {};
        QByteArray bytes(sizeof look->words, Qt::Uninitialized);
        std::memcpy(bytes.data(), look->words.data(), sizeof look->words);
        return bytes;
    }

    std::optional<Imaging::LookHash> lookFrom(const QByteArray& bytes)
    {
        Imaging::LookHash look;
        if (bytes.size() != qsizetype(sizeof look.words))
            return std::nullopt;
        std::memcpy(look.words.data(), bytes.constData(), sizeof look.words);
        return look;
    }

    // The columns every reader takes, in this order.
    const char* const kEntryColumns = "SELECT s.run, s.line, l.id, l.url, s.http_status, s.final_url, s.thumbnail,"
                                      " r.started, s.outcome, s.page, s.look, s.title, s.change, s.since,"
                                      " s.last_worked, s.failed_runs FROM seen s JOIN links l ON l.link = s.link"
                                      " JOIN runs r ON r.run = s.run ";

    HistoryStore::Entry entryFrom(const Statement& row)
    {
        HistoryStore::Entry entry;
        entry.run = row.integer(0);
        entry.line = qint32(row.integer(1));
        entry.id = row.text(2);
        entry.url = row.text(3);
        entry.httpStatus = int(row.integer(4));
        entry.finalUrl = row.text(5);
        entry.thumbnailHash = row.blob(6);
        LinkSighting& seen = entry.seen;
        seen.date = row.integer(7);
        seen.outcome = row.text(8);
        seen.page = row.text(9);
        seen.look = lookFrom(row.blob(10));
        seen.title = row.text(11);
        seen.change = row.text(12);
        seen.since = row.integer(13);
        seen.lastWorked = row.integer(14);
        seen.failedRuns = int(row.integer(15));
        return entry;
    }

} // namespace

HistoryStore::HistoryStore(sqlite3* db)
    : m_db(db)
{
}

HistoryStore::~HistoryStore() { sqlite3_close_v2(m_db); }

Common::Result<std::unique_ptr<HistoryStore>> HistoryStore::open(const QString& filePath)
{
    const auto refuse = [&](const QString& why) {
        return Common::Error { 0, kSource, QStringLiteral("Cannot open the run history %1: %2").arg(filePath, why) };
    };
    // Created here, not by SQLite, so that it never exists with broader permissions.
    if (!QFileInfo::exists(filePath)) {
        if (!QDir().mkpath(QFileInfo(filePath).absolutePath()))
            return refuse(QStringLiteral("its folder cannot be created"));
        QFile file(filePath);
        const QFile::Permissions userOnly = QFile::ReadOwner | QFile::WriteOwner;
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, userOnly) && !QFileInfo::exists(filePath))
            return refuse(file.errorString());
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(filePath.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close_v2(db);
        return refuse(why);
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    std::unique_ptr<HistoryStore> store(new HistoryStore(db));
    const auto number = [db](const char* sql) {
        Statement query(db, sql);
        return query.step() == SQLITE_ROW ? query.integer(0) : -1;
    };
    const qint64 application = number("PRAGMA application_id");
    const qint64 count = number("SELECT count(*) FROM sqlite_schema");
    if (application < 0 || count < 0)
        return refuse(QString::fromUtf8(sqlite3_errmsg(db)));
    if (application != kApplicationId && (application != 0 || count != 0))
        return refuse(QStringLiteral("it is not a run history"));
    // WAL: a commit is whole once its frames are in the log, and a process killed in the middle of one
    // leaves a log whose torn tail the next open ignores. NORMAL syncs only at checkpoints: a killed
    // process loses nothing the system has, and a power cut at most the last batches, never the file.
    // The log of a prune (a whole run's rows) is large; it is cut back once checkpointed.
    if (!store->exec("PRAGMA journal_mode = WAL") || !store->exec("PRAGMA synchronous = NORMAL")
        || !store->exec("PRAGMA journal_size_limit = 4194304"))
        return refuse(QString::fromUtf8(sqlite3_errmsg(db)));
    if (application == 0) {
        const QByteArray setup = QByteArray("BEGIN IMMEDIATE;") + kSchema
            + "PRAGMA application_id = " + QByteArray::number(kApplicationId)
            + ";PRAGMA user_version = " + QByteArray::number(kSchemaVersion) + ";COMMIT;";
        if (!store->exec(setup.constData())) {
            store->exec("ROLLBACK");
            return refuse(QString::fromUtf8(sqlite3_errmsg(db)));
        }
    }
    return store;
}

bool HistoryStore::exec(const char* sql) const
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

Common::Error HistoryStore::failure(const QString& what) const
{
    return Common::Error { sqlite3_errcode(m_db), kSource,
        QStringLiteral("Cannot %1 in the run history: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(m_db))) };
}

Common::Result<qint64> HistoryStore::beginRun(qint64 date, int keptRuns)
{
    if (!exec("BEGIN IMMEDIATE"))
        return failure(QStringLiteral("start a run"));
    Statement add(m_db, "INSERT INTO runs (started) VALUES (?1)");
    add.bind(1, date);
    const bool added = add.run();
    const qint64 run = sqlite3_last_insert_rowid(m_db);
    const char* const pruned = "SELECT run FROM runs ORDER BY run DESC LIMIT -1 OFFSET ?1";
    Statement seen(m_db, (QByteArray("DELETE FROM seen WHERE run IN (") + pruned + ')'));
    Statement runs(m_db, (QByteArray("DELETE FROM runs WHERE run IN (") + pruned + ')'));
    seen.bind(1, std::max(1, keptRuns));
    runs.bind(1, std::max(1, keptRuns));
    if (!added || !seen.run() || !runs.run()
        || !exec("DELETE FROM links WHERE NOT EXISTS (SELECT 1 FROM seen WHERE seen.link = links.link)")
        || !exec("COMMIT")) {
        const Common::Error error = failure(QStringLiteral("start a run"));
        exec("ROLLBACK");
        return error;
    }
    return run;
}

Common::Status HistoryStore::endRun(qint64 run, qint64 date)
{
    Statement end(m_db, "UPDATE runs SET ended = ?2 WHERE run = ?1");
    end.bind(1, run);
    end.bind(2, date);
    if (!end.run())
        return failure(QStringLiteral("end a run"));
    return Common::success();
}

Common::Status HistoryStore::record(const QList<Entry>& entries)
{
    if (entries.isEmpty())
        return Common::success();
    if (!exec("BEGIN IMMEDIATE"))
        return failure(QStringLiteral("record links"));
    Statement link(m_db, "INSERT INTO links (id, url) VALUES (?1, ?2) ON CONFLICT (id, url) DO NOTHING");
    Statement key(m_db, "SELECT link FROM links WHERE id = ?1 AND url = ?2");
    Statement add(m_db,
        "INSERT OR REPLACE INTO seen (link, run, line, outcome, http_status, final_url, title, page, look,"
        " thumbnail, change, since, last_worked, failed_runs)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
    bool ok = true;
    for (const Entry& entry : entries) {
        link.bind(1, entry.id);
        link.bind(2, entry.url);
        key.bind(1, entry.id);
        key.bind(2, entry.url);
        if (!link.run() || key.step() != SQLITE_ROW) {
            ok = false;
            break;
        }
        const qint64 linkKey = key.integer(0);
        key.run();
        const LinkSighting& seen = entry.seen;
        add.bind(1, linkKey);
        add.bind(2, entry.run);
        add.bind(3, entry.line);
        add.bind(4, seen.outcome);
        add.bind(5, entry.httpStatus);
        add.bind(6, entry.finalUrl);
        add.bind(7, seen.title);
        add.bind(8, seen.page);
        add.bindBlob(9, lookBytes(seen.look));
        add.bindBlob(10, entry.thumbnailHash);
        add.bind(11, seen.change);
        add.bind(12, seen.since);
        add.bind(13, seen.lastWorked);
        add.bind(14, seen.failedRuns);
        if (!add.run()) {
            ok = false;
            break;
        }
    }
    if (!ok || !exec("COMMIT")) {
        const Common::Error error = failure(QStringLiteral("record links"));
        exec("ROLLBACK");
        return error;
    }
    return Common::success();
}

QList<LinkSighting> HistoryStore::earlier(const QString& id, const QString& url, qint64 beforeRun, int limit) const
{
    Statement query(m_db,
        (QByteArray(kEntryColumns) + "WHERE l.id = ?1 AND l.url = ?2 AND s.run < ?3 ORDER BY s.run DESC LIMIT ?4"));
    query.bind(1, id);
    query.bind(2, url);
    query.bind(3, beforeRun);
    query.bind(4, limit);
    QList<LinkSighting> found;
    while (query.step() == SQLITE_ROW)
        found.append(entryFrom(query).seen);
    return found;
}

QList<HistoryStore::Entry> HistoryStore::runsOf(const QString& id, const QString& url) const
{
    Statement query(m_db, (QByteArray(kEntryColumns) + "WHERE l.id = ?1 AND l.url = ?2 ORDER BY s.run DESC"));
    query.bind(1, id);
    query.bind(2, url);
    QList<Entry> found;
    while (query.step() == SQLITE_ROW)
        found.append(entryFrom(query));
    return found;
}

std::optional<HistoryStore::Entry> HistoryStore::entryAt(qint64 run, qint32 line) const
{
    Statement query(m_db, (QByteArray(kEntryColumns) + "WHERE s.run = ?1 AND s.line = ?2"));
    query.bind(1, run);
    query.bind(2, line);
    if (query.step() != SQLITE_ROW)
        return std::nullopt;
    return entryFrom(query);
}

QList<qint64> HistoryStore::runs() const
{
    Statement query(m_db, "SELECT run FROM runs ORDER BY run");
    QList<qint64> found;
    while (query.step() == SQLITE_ROW)
        found.append(query.integer(0));
    return found;
}

bool HistoryStore::isIntact() const
{
    Statement check(m_db, "PRAGMA integrity_check");
    return check.step() == SQLITE_ROW && check.text(0) == QLatin1String("ok");
}

} // namespace Batch

#include "settings/hive.h"

#include <utility>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <sqlite3.h>

namespace Settings {

namespace {

    // Marks a database as this program's hive, so that a foreign SQLite file at the hive's path is
    // recognised and left alone instead of having tables added to it.
    constexpr int kApplicationId = 0x50435256;
    constexpr int kSchemaVersion = 1;

    // Another process (a second instance of the program) may hold the write lock for a moment.
    constexpr int kBusyTimeoutMs = 2000;

    constexpr qint32 kFirstRootKey = qint32(0x80000000);
    constexpr qint32 kLastRootKey = qint32(0x80000006);

    const QFile::Permissions kUserOnlyFile = QFile::ReadOwner | QFile::WriteOwner;
    const QFile::Permissions kUserOnlyFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

    class Connection final {
    public:
        Connection() = default;
        ~Connection()
        {
            if (m_db)
                sqlite3_close_v2(m_db);
        }
        Q_DISABLE_COPY_MOVE(Connection)

        bool open(const QString& filePath, int flags)
        {
            // SQLite hands out a handle even when opening fails; it has to be closed all the same.
            if (sqlite3_open_v2(filePath.toUtf8().constData(), &m_db, flags, nullptr) != SQLITE_OK) {
                sqlite3_close_v2(m_db);
                m_db = nullptr;
                return false;
            }
            sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
            return true;
        }
        sqlite3* handle() const { return m_db; }
        bool exec(const char* sql) const { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    private:
        sqlite3* m_db = nullptr;
    };

    // Bound texts and blobs are not copied by SQLite (no destructor is passed), so the statement keeps
    // them alive until it is finalised.
    class Statement final {
    public:
        Statement(const Connection& connection, const char* sql)
        {
            m_ok = sqlite3_prepare_v2(connection.handle(), sql, -1, &m_stmt, nullptr) == SQLITE_OK;
        }
        ~Statement() { sqlite3_finalize(m_stmt); }
        Q_DISABLE_COPY_MOVE(Statement)

        bool ok() const { return m_ok; }
        void bindInt(int index, qint64 value)
        {
            if (m_ok)
                m_ok = sqlite3_bind_int64(m_stmt, index, value) == SQLITE_OK;
        }
        void bindText(int index, const QString& text)
        {
            m_kept.append(text.toUtf8());
            const QByteArray& utf8 = m_kept.constLast();
            if (m_ok)
                m_ok = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), nullptr) == SQLITE_OK;
        }
        void bindBlob(int index, const QByteArray& data)
        {
            m_kept.append(data);
            const QByteArray& kept = m_kept.constLast();
            if (!m_ok)
                return;
            // An empty blob must stay a blob: a null pointer would bind NULL.
            m_ok = kept.isEmpty()
                ? sqlite3_bind_zeroblob(m_stmt, index, 0) == SQLITE_OK
                : sqlite3_bind_blob(m_stmt, index, kept.constData(), int(kept.size()), nullptr) == SQLITE_OK;
        }
        // SQLITE_ROW, SQLITE_DONE or an error code.
        int step() { return m_ok ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
        bool run() { return step() == SQLITE_DONE; }
        qint64 intColumn(int column) const { return sqlite3_column_int64(m_stmt, column); }
        QByteArray blobColumn(int column) const
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

    enum class FileKind { Hive, Empty, Foreign };

    std::optional<qint64> singleInt(const Connection& connection, const char* sql)
    {
        Statement statement(connection, sql);
        if (statement.step() != SQLITE_ROW)
            return std::nullopt;
        return statement.intColumn(0);
    }

    // nullopt when the file cannot be read as SQLite at all (not a database, corrupt, locked).
    std::optional<FileKind> classify(const Connection& connection)
    {
        const auto applicationId = singleInt(connection, "PRAGMA application_id");
        const auto version = singleInt(connection, "PRAGMA user_version");
        const auto objects = singleInt(connection, "SELECT count(*) FROM sqlite_schema");
        if (!applicationId || !version || !objects)
            return std::nullopt;
        if (*applicationId == kApplicationId && *version == kSchemaVersion)
            return FileKind::Hive;
        if (*applicationId == 0 && *version == 0 && *objects == 0)
            return FileKind::Empty;
        return FileKind::Foreign;
    }

    bool createSchema(const Connection& connection)
    {
        return connection.exec("CREATE TABLE registry_keys ("
                               " root INTEGER NOT NULL,"
                               " key_path TEXT NOT NULL COLLATE NOCASE,"
                               " PRIMARY KEY (root, key_path)) WITHOUT ROWID")
            && connection.exec("CREATE TABLE registry_values ("
                               " root INTEGER NOT NULL,"
                               " key_path TEXT NOT NULL COLLATE NOCASE,"
                               " value_name TEXT NOT NULL COLLATE NOCASE,"
                               " type INTEGER NOT NULL,"
                               " data BLOB NOT NULL,"
                               " PRIMARY KEY (root, key_path, value_name)) WITHOUT ROWID")
            && connection.exec(QByteArray("PRAGMA application_id = " + QByteArray::number(kApplicationId)).constData())
            && connection.exec(QByteArray("PRAGMA user_version = " + QByteArray::number(kSchemaVersion)).constData());
    }

    // The key path and each of its ancestors, shortest first ("A", "A\B", "A\B\C"); an empty list for the
    // root itself. nullopt for a path with an empty part: the registry refuses those, and accepting them
    // would give one key two spellings.
    std::optional<QStringList> keyPathLevels(const QString& keyPath)
    {
        QStringList parts = keyPath.split(QLatin1Char('\\'));
        if (parts.size() > 1 && parts.constLast().isEmpty())
            parts.removeLast();
        if (parts.size() == 1 && parts.constFirst().isEmpty())
            return QStringList();
        QStringList levels;
        QString current;
        for (const QString& part : std::as_const(parts)) {
            if (part.isEmpty())
                return std::nullopt;
            current = current.isEmpty() ? part : current + QLatin1Char('\\') + part;
            levels.append(current);
        }
        return levels;
    }

    QString normalisedKeyPath(const QStringList& levels) { return levels.isEmpty() ? QString() : levels.constLast(); }

    bool openHiveForReading(Connection& connection, const QString& filePath)
    {
        if (!QFileInfo(filePath).isFile())
            return false;
        // Read-write when allowed: after a crash in the middle of a write, the first connection has to roll
        // the interrupted transaction back, and a read-only one would find the file unreadable instead.
        if (!connection.open(filePath, SQLITE_OPEN_READWRITE) && !connection.open(filePath, SQLITE_OPEN_READONLY))
            return false;
        return classify(connection) == FileKind::Hive;
    }

    // Creates the missing folders above filePath; the levels made here are readable by the user only.
    bool ensureFolder(const QString& folder)
    {
        const QFileInfo info(folder);
        if (info.isDir())
            return true;
        if (info.exists())
            return false;
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath() || !ensureFolder(parent))
            return false;
        if (QDir().mkdir(info.absoluteFilePath(), kUserOnlyFolder))
            return QFile::setPermissions(info.absoluteFilePath(), kUserOnlyFolder);
        return QFileInfo(folder).isDir();
    }

    // The file is created here rather than by SQLite so that it never exists with broader permissions,
    // not even for a moment.
    bool ensureFile(const QString& filePath)
    {
        QFileInfo info(filePath);
        if (!info.exists()) {
            if (!ensureFolder(info.absolutePath()))
                return false;
            QFile file(filePath);
            if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kUserOnlyFile))
                file.setPermissions(kUserOnlyFile); // exactly 0600, whatever the umask took away
            else if (!QFileInfo::exists(filePath))
                return false;
            info.refresh();
        }
        return info.isFile();
    }

    void narrowPermissions(const QString& filePath)
    {
        const QFile::Permissions broader = QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        if (QFile::permissions(filePath).testAnyFlags(broader))
            QFile::setPermissions(filePath, kUserOnlyFile);
    }

} // namespace

Hive::Hive(QString filePath)
    : m_filePath(std::move(filePath))
{
}

Hive::~Hive() = default;

QString Hive::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Corvane/Pictavo/registry.db");
}

QString Hive::filePath() const { return m_filePath; }

bool Hive::isRootKey(qint32 root) { return root >= kFirstRootKey && root <= kLastRootKey; }

std::optional<HiveValue> Hive::readValue(qint32 root, const QString& keyPath, const QString& valueName) const
{
    const auto levels = keyPathLevels(keyPath);
    if (!isRootKey(root) || !levels)
        return std::nullopt;
    Connection connection;
    if (!openHiveForReading(connection, m_filePath))
        return std::nullopt;
    Statement statement(
        connection, "SELECT type, data FROM registry_values WHERE root = ?1 AND key_path = ?2 AND value_name = ?3");
    statement.bindInt(1, root);
    statement.bindText(2, normalisedKeyPath(*levels));
    statement.bindText(3, valueName);
    if (statement.step() != SQLITE_ROW)
        return std::nullopt;
    return HiveValue { qint32(statement.intColumn(0)), statement.blobColumn(1) };
}

bool Hive::keyExists(qint32 root, const QString& keyPath) const
{
    const auto levels = keyPathLevels(keyPath);
    if (!isRootKey(root) || !levels)
        return false;
    if (levels->isEmpty())
        return true;
    Connection connection;
    if (!openHiveForReading(connection, m_filePath))
        return false;
    Statement statement(connection, "SELECT 1 FROM registry_keys WHERE root = ?1 AND key_path = ?2");
    statement.bindInt(1, root);
    statement.bindText(2, normalisedKeyPath(*levels));
    return statement.step() == SQLITE_ROW;
}

Hive::WriteResult Hive::writeValue(
    qint32 root, const QString& keyPath, const QString& valueName, const std::optional<HiveValue>& value)
{
    const auto levels = keyPathLevels(keyPath);
    if (!isRootKey(root) || !levels || !ensureFile(m_filePath))
        return WriteResult::KeyFailed;

    Connection connection;
    if (!connection.open(m_filePath, SQLITE_OPEN_READWRITE))
        return WriteResult::KeyFailed;
    // Taking the write lock before looking at the file means a second instance cannot create the
    // schema between our look and our write.
    if (!connection.exec("BEGIN IMMEDIATE"))
        return WriteResult::KeyFailed;
    const auto fail = [&connection](WriteResult result) {
        connection.exec("ROLLBACK");
        return result;
    };

    const auto kind = classify(connection);
    if (!kind || *kind == FileKind::Foreign)
        return fail(WriteResult::KeyFailed);
    if (*kind == FileKind::Empty && !createSchema(connection))
        return fail(WriteResult::KeyFailed);
    narrowPermissions(m_filePath);

    for (const QString& level : std::as_const(*levels)) {
        Statement insertKey(connection, "INSERT OR IGNORE INTO registry_keys (root, key_path) VALUES (?1, ?2)");
        insertKey.bindInt(1, root);
        insertKey.bindText(2, level);
        if (!insertKey.run())
            return fail(WriteResult::KeyFailed);
    }

    if (value) {
        Statement insertValue(connection,
            "INSERT INTO registry_values (root, key_path, value_name, type, data) VALUES (?1, ?2, ?3, ?4, ?5)"
            " ON CONFLICT (root, key_path, value_name) DO UPDATE SET type = excluded.type, data = excluded.data");
        insertValue.bindInt(1, root);
        insertValue.bindText(2, normalisedKeyPath(*levels));
        insertValue.bindText(3, valueName);
        insertValue.bindInt(4, value->type);
        insertValue.bindBlob(5, value->data);
        if (!insertValue.run())
            return fail(WriteResult::ValueFailed);
    }

    if (!connection.exec("COMMIT"))
        return fail(value ? WriteResult::ValueFailed : WriteResult::KeyFailed);
    return WriteResult::Written;
}

bool Hive::removeValue(qint32 root, const QString& keyPath, const QString& valueName)
{
    const auto levels = keyPathLevels(keyPath);
    if (!isRootKey(root) || !levels)
        return false;
    if (!QFileInfo::exists(m_filePath))
        return true;
    Connection connection;
    if (!openHiveForReading(connection, m_filePath))
        return false;
    Statement statement(
        connection, "DELETE FROM registry_values WHERE root = ?1 AND key_path = ?2 AND value_name = ?3");
    statement.bindInt(1, root);
    statement.bindText(2, normalisedKeyPath(*levels));
    statement.bindText(3, valueName);
    return statement.run() && !readValue(root, keyPath, valueName);
}

} // namespace Settings

#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace AdminTest {

// The reference administration script (tools/admin/admin.cgi) under a real lighttpd on a free port of
// 127.0.0.1, with its own links file and snapshots folder in a temporary folder. The server is stopped when
// the object dies, and the kernel stops it when the test process dies first, so no server outlives a test.
class AdminScriptServer final {
public:
    static constexpr const char* User = "admin";
    // Characters that a naive form encoding would corrupt.
    static constexpr const char* Password = "s3cr+t &=%;\"x";

    AdminScriptServer();
    ~AdminScriptServer();
    AdminScriptServer(const AdminScriptServer&) = delete;
    AdminScriptServer& operator=(const AdminScriptServer&) = delete;

    // Starts lighttpd and waits until it accepts connections. False (with `error`) when it did not start.
    bool start(QString* error = nullptr);
    void stop();

    // http://127.0.0.1:<port>/cgi-bin/dir/admin.cgi
    QString url() const;
    QString baseUrl() const;
    QString snapshotsFolder() const;
    QString folder() const { return m_dir.path(); }
    // Replaces the directory's links file ("ID|URL|Title|Submitted" lines).
    void setLinks(const QByteArray& content) const;

private:
    bool startOnce(QString* error);

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace AdminTest

#include "adminscriptserver.h"

#include <csignal>
#include <sys/prctl.h>

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace AdminTest {

namespace {

    quint16 freePort()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 0;
        return probe.serverPort();
    }

    QString toolsFolder() { return QStringLiteral(PICTAVO_SOURCE_DIR "/tools/admin"); }

} // namespace

AdminScriptServer::AdminScriptServer()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("snapshots"));
    QDir(m_dir.path()).mkpath(QStringLiteral("tmp"));
    QDir(m_dir.path()).mkpath(QStringLiteral("www"));
    setLinks(QByteArray());
}

AdminScriptServer::~AdminScriptServer() { stop(); }

bool AdminScriptServer::start(QString* error)
{
    // Another process may take the probed port before lighttpd binds it; a few fresh ports settle that.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce(error))
            return true;
    }
    return false;
}

bool AdminScriptServer::startOnce(QString* error)
{
    m_port = freePort();
    QFile templateFile(toolsFolder() + QStringLiteral("/lighttpd.conf.in"));
    if (m_port == 0 || !templateFile.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("no free port or no configuration template");
        return false;
    }
    QString config = QString::fromUtf8(templateFile.readAll());
    QString password = QString::fromLatin1(Password);
    password.replace(QLatin1Char('"'), QLatin1String("\\\""));
    config.replace(QLatin1String("@PORT@"), QString::number(m_port));
    config.replace(QLatin1String("@DOCROOT@"), m_dir.filePath(QStringLiteral("www")));
    config.replace(QLatin1String("@STATEDIR@"), m_dir.path());
    config.replace(QLatin1String("@SCRIPT@"), toolsFolder() + QStringLiteral("/admin.cgi"));
    config.replace(QLatin1String("@LINKS@"), m_dir.filePath(QStringLiteral("links.txt")));
    config.replace(QLatin1String("@SNAPSHOTS@"), snapshotsFolder());
    config.replace(QLatin1String("@USER@"), QString::fromLatin1(User));
    config.replace(QLatin1String("@PASSWORD@"), password);
    const QString configPath = m_dir.filePath(QStringLiteral("lighttpd.conf"));
    QFile configFile(configPath);
    if (!configFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = configFile.errorString();
        return false;
    }
    configFile.write(config.toUtf8());
    configFile.close();

    m_process.setProgram(QStringLiteral("lighttpd"));
    m_process.setArguments({ QStringLiteral("-D"), QStringLiteral("-f"), configPath });
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Should the test crash, the kernel ends the server with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        if (error)
            *error = m_process.errorString();
        return false;
    }
    for (int i = 0; i < 100 && m_process.state() == QProcess::Running; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(100))
            return true;
        m_process.waitForFinished(100);
    }
    if (error)
        *error = QStringLiteral("lighttpd did not accept connections on port %1").arg(m_port);
    stop();
    return false;
}

void AdminScriptServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString AdminScriptServer::baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

QString AdminScriptServer::url() const { return baseUrl() + QStringLiteral("/cgi-bin/dir/admin.cgi"); }

QString AdminScriptServer::snapshotsFolder() const { return m_dir.filePath(QStringLiteral("snapshots")); }

void AdminScriptServer::setLinks(const QByteArray& content) const
{
    QFile file(m_dir.filePath(QStringLiteral("links.txt")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

} // namespace AdminTest

#include "Quorvane/Views/SingleInstance.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Error.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QString>
#include <QThread>

#include <system_error>
#include <utility>

namespace quorvane {
namespace {

/// How long a later launch waits for the running copy to listen.
constexpr int handOverMilliseconds = 5000;

/// The file `path` stands for: links followed, made absolute, "." and ".." gone.
std::filesystem::path resolvedFile(const std::filesystem::path& path)
{
    std::filesystem::path file = path;
    try {
        file = linkTarget(path);
    } catch (const FileError&) {
        // A loop of links: the settings store reports it; the path itself names the claim.
    }
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(file, error);
    return error ? file : resolved;
}

/// "<runtime folder>/quorvane-<hash of the resolved path>", to which the lock file and the
/// socket add their suffixes; empty without a runtime folder.
QString claimPath(const std::filesystem::path& settingsFile)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        return {};
    const QByteArray path = QByteArray::fromStdString(resolvedFile(settingsFile).string());
    // Short enough for a socket's path, long enough never to meet another file's.
    const QByteArray hash
        = QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(32);
    return folder + QStringLiteral("/quorvane-") + QString::fromLatin1(hash);
}

QString socketPath(const QString& claim) { return claim + QStringLiteral(".socket"); }

} // namespace

SingleInstance::SingleInstance(const std::filesystem::path& settingsFile)
    : m_settingsFile(settingsFile)
{
    const QString claim = claimPath(settingsFile);
    if (claim.isEmpty())
        return;
    auto lock = std::make_unique<QLockFile>(claim + QStringLiteral(".lock"));
    // Held for the life of the process: a lock is stale only when its process is gone, however
    // old it is.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        m_isTakenByAnotherCopy = lock->error() == QLockFile::LockFailedError;
        return;
    }
    m_lock = std::move(lock);
    // A copy that was killed leaves its socket behind, and that would refuse the listen.
    QLocalServer::removeServer(socketPath(claim));
    auto server = std::make_unique<QLocalServer>();
    if (server->listen(socketPath(claim)))
        m_server = std::move(server);
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::handOver() const
{
    const QString socket = socketPath(claimPath(m_settingsFile));
    const QDeadlineTimer deadline(handOverMilliseconds);
    QLocalSocket connection;
    // The connection is the request; the running copy needs nothing more.
    for (;;) {
        connection.connectToServer(socket);
        if (connection.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            connection.disconnectFromServer();
            return;
        }
        if (deadline.hasExpired())
            throw Error("Quorvane already runs on the settings file \"" + m_settingsFile.string()
                + "\" but does not answer.");
        // The running copy takes its lock a moment before it listens; nothing else runs here.
        QThread::msleep(50);
    }
}

void SingleInstance::onHandOver(std::function<void()> openMainWindow)
{
    if (!m_server)
        return;
    QLocalServer* server = m_server.get();
    QObject::connect(
        server, &QLocalServer::newConnection, server, [server, open = std::move(openMainWindow)] {
            while (QLocalSocket* connection = server->nextPendingConnection()) {
                connection->disconnectFromServer();
                connection->deleteLater();
                open();
            }
        });
}

} // namespace quorvane

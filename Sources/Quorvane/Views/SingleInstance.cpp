#include "Quorvane/Views/SingleInstance.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Error.h"
#include "Foundation/Format.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QString>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace quorvane {
namespace {

/// How often a later launch asks again while the running copy neither answers nor lets go.
constexpr int retryMilliseconds = 50;

/// What the running copy answers once its main window is open.
constexpr char acknowledgement = '!';

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

/// The lock file, made with its folder when missing (the settings store would make the folder
/// anyway), or opened read-only when it cannot be written (another user's file, say): a lock
/// needs no more. -1 when it cannot be opened.
int openLockFile(const std::filesystem::path& path)
{
    std::error_code ignored; // the open below fails if the folder is still missing
    std::filesystem::create_directories(path.parent_path(), ignored);
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor >= 0)
        return descriptor;
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

/// Writes this process's id into the lock it holds, for launches that cannot reach it.
void recordProcess(int descriptor)
{
    const std::string text = formatInteger(::getpid()) + "\n";
    if (::ftruncate(descriptor, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(descriptor, text.data(), text.size(), 0);
    }
}

/// The process id that the holder wrote into the lock file; absent when there is none to read.
std::optional<std::int64_t> holderProcess(const std::filesystem::path& lockFile)
{
    std::string text;
    try {
        text = readFile(lockFile, 32);
    } catch (const FileError&) {
        return std::nullopt;
    }
    std::int64_t process = 0;
    const char* const end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, process);
    if (error != std::errc() || process <= 0 || std::string_view(last, end) != "\n")
        return std::nullopt;
    return process;
}

/// Whether the process at the other end runs as this process's user. Abstract sockets have no
/// permissions, so this keeps other users from opening our window or answering for our copy.
bool isOwnUser(const QLocalSocket& connection)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(connection.socketDescriptor()), SOL_SOCKET, SO_PEERCRED,
               &peer, &size)
        == 0
        && peer.uid == ::geteuid();
}

} // namespace

InstanceClaim instanceClaim(const std::filesystem::path& settingsFile)
{
    const std::filesystem::path file = resolvedFile(settingsFile);
    // Long enough never to meet another file's.
    const QByteArray hash = QCryptographicHash::hash(
        QByteArray::fromStdString(file.string()), QCryptographicHash::Sha256)
                                .toHex()
                                .left(32);
    return {.lockFile = file.parent_path() / ("." + file.filename().string() + ".lock"),
        .socketName = "quorvane-" + hash.toStdString()};
}

SingleInstance::SingleInstance(const std::filesystem::path& settingsFile)
    : m_settingsFile(settingsFile)
    , m_claim(instanceClaim(settingsFile))
    , m_lockDescriptor(openLockFile(m_claim.lockFile))
{
    if (m_lockDescriptor >= 0)
        m_isTakenByAnotherCopy = !tryClaim();
}

SingleInstance::~SingleInstance()
{
    m_server.reset(); // first: nothing may answer for a copy that has let go of the file
    if (m_lockDescriptor >= 0)
        ::close(m_lockDescriptor);
}

bool SingleInstance::tryClaim()
{
    // Any failure but another holder (a file system without locks) leaves nothing to claim.
    if (::flock(m_lockDescriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return false;
    recordProcess(m_lockDescriptor);
    listen();
    return true;
}

void SingleInstance::listen()
{
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (server->listen(QString::fromStdString(m_claim.socketName)))
        m_server = std::move(server);
}

bool SingleInstance::handOver(std::chrono::milliseconds wait)
{
    assert(m_isTakenByAnotherCopy && "only a launch on a file that another copy has hands over");
    const QDeadlineTimer deadline(wait);
    for (;;) {
        if (tryClaim()) {
            m_isTakenByAnotherCopy = false;
            return false;
        }
        if (isAnsweredBefore(deadline))
            return true;
        if (deadline.hasExpired())
            throw Error(notAnsweringMessage());
        // The copy takes its lock a moment before it listens, and stops listening when it begins
        // to quit, a while before it lets go of the lock.
        QCoreApplication::processEvents();
        QThread::msleep(retryMilliseconds);
    }
}

bool SingleInstance::isAnsweredBefore(const QDeadlineTimer& deadline) const
{
    QLocalSocket connection;
    connection.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    connection.connectToServer(QString::fromStdString(m_claim.socketName));
    if (!connection.waitForConnected(retryMilliseconds) || !isOwnUser(connection))
        return false;
    // A connection alone proves nothing: a copy that quits drops those it has not answered.
    while (connection.bytesAvailable() == 0 && connection.state() == QLocalSocket::ConnectedState
        && !deadline.hasExpired()) {
        QCoreApplication::processEvents(); // a copy in this very process answers from here
        connection.waitForReadyRead(retryMilliseconds);
    }
    char answer = 0;
    return connection.getChar(&answer) && answer == acknowledgement;
}

std::string SingleInstance::notAnsweringMessage() const
{
    std::string holder;
    if (const std::optional<std::int64_t> process = holderProcess(m_claim.lockFile))
        holder = " (process " + formatInteger(*process) + ")";
    return "QuorVane already runs on the settings file \"" + m_settingsFile.string() + "\"" + holder
        + " but does not answer.";
}

void SingleInstance::onHandOver(std::function<void()> openMainWindow)
{
    if (!m_server)
        return;
    QLocalServer* server = m_server.get();
    QObject::connect(
        server, &QLocalServer::newConnection, server, [server, open = std::move(openMainWindow)] {
            while (QLocalSocket* connection = server->nextPendingConnection()) {
                if (isOwnUser(*connection)) {
                    open();
                    connection->putChar(acknowledgement);
                    connection->flush(); // before the socket goes with its unwritten answer
                }
                connection->disconnectFromServer();
                connection->deleteLater();
            }
        });
}

void SingleInstance::stopHandOvers() { m_server.reset(); }

} // namespace quorvane

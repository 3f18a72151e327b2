#include "Quorvane/Views/SingleInstance.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Error.h"
#include "Foundation/Format.h"
#include "Quorvane/Views/ClaimQueries.h"
#include "Quorvane/Views/InstanceLock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileSystemWatcher>
#include <QLocalServer>
#include <QLocalSocket>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <optional>
#include <random>
#include <utility>

namespace quorvane {
namespace {

/// How often a later launch asks again while the running copy neither answers nor lets go.
constexpr int retryMilliseconds = 50;

/// What a launch sends to ask for the main window. A connection that sends nothing only learns
/// who listens, and opens nothing.
constexpr char request = '?';
/// What the running copy answers once its main window is open.
constexpr char acknowledgement = '!';

/// How long after a change around its lock file the running copy looks at it, once for all the
/// changes meanwhile.
constexpr std::chrono::milliseconds lockCheckDelay{200};

/// Names tried after the first of each kind when other users' programs hold it.
constexpr int alternativeNameCount = 3;

/// Whether the process at the other end runs as this process's user. Abstract sockets have no
/// permissions, so this keeps other users from opening our window or answering for our copy.
bool isOwnUser(const QLocalSocket& connection)
{
    return peerUser(static_cast<int>(connection.socketDescriptor())) == ::geteuid();
}

/// Whether the copy listening on `socketName` answers a hand-over before `deadline`.
bool isAnsweredBefore(const std::string& socketName, const QDeadlineTimer& deadline)
{
    QLocalSocket connection;
    connection.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    connection.connectToServer(QString::fromStdString(socketName));
    if (!connection.waitForConnected(retryMilliseconds) || !isOwnUser(connection))
        return false;
    connection.putChar(request);
    connection.flush();
    // A connection alone proves nothing: a copy that quits drops those it has not answered.
    while (connection.bytesAvailable() == 0 && connection.state() == QLocalSocket::ConnectedState
        && !deadline.hasExpired()) {
        QCoreApplication::processEvents(); // a copy in this very process answers from here
        connection.waitForReadyRead(retryMilliseconds);
    }
    char answer = 0;
    return connection.getChar(&answer) && answer == acknowledgement;
}

/// A listener on `socketName`; absent, with whether the name is in use, when it cannot listen.
struct Listening {
    std::unique_ptr<QLocalServer> server;
    bool isNameInUse = false;
};

Listening listenOn(const std::string& socketName)
{
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!server->listen(QString::fromStdString(socketName)))
        return {nullptr, server->serverError() == QAbstractSocket::AddressInUseError};
    return {std::move(server)};
}

/// This user, and the settings file's owner (its folder's while it is not there): as after "su",
/// a copy may run as the user whose file it is.
LockUsers lockUsersOf(const std::filesystem::path& settingsFile)
{
    LockUsers users{.copies = {::geteuid()}};
    struct stat status { };
    if (::stat(settingsFile.c_str(), &status) == 0
        || ::stat(settingsFile.parent_path().c_str(), &status) == 0)
        users.copies.push_back(status.st_uid);
    return users;
}

std::string randomSocketName()
{
    std::random_device random;
    return socketNameOf(formatInteger((static_cast<std::int64_t>(random()) << 32) | random()));
}

} // namespace

std::vector<std::string> candidateSocketNames(const std::string& first)
{
    std::vector<std::string> names{first};
    for (int alternative = 1; alternative <= alternativeNameCount; ++alternative)
        names.push_back(socketNameOf(first + "#" + formatInteger(alternative)));
    return names;
}

InstanceClaim instanceClaim(const std::filesystem::path& settingsFile)
{
    InstanceClaim claim{.settingsFile = settingsFile};
    const std::filesystem::path& file = claim.settingsFile;
    std::error_code ignored;
    if (const auto status = std::filesystem::status(file, ignored);
        !std::filesystem::exists(status) || std::filesystem::is_regular_file(status))
        claim.lockFile = hiddenSibling(file, ".lock");
    claim.socketName = socketNameOf(file.string());
    if (const std::optional<std::string> place = placeInFileSystem(file))
        claim.fileSystemSocketName = socketNameOf("file system " + *place);
    return claim;
}

/// Calls `changed` a moment after the lock file, its folder or that folder's parent changes: the
/// file deleted, renamed over or written, the folder moved away or made again. The moment counts
/// from the first change, never from the last: whoever may write the parent could otherwise put
/// the call off for as long as they keep changing it.
class SingleInstance::LockWatch final {
public:
    LockWatch(std::filesystem::path lockFile, const std::function<void()>& changed)
        : m_lockFile(std::move(lockFile))
    {
        m_delay.setSingleShot(true);
        m_delay.setInterval(lockCheckDelay);
        const auto startDelay = [this] {
            if (!m_delay.isActive())
                m_delay.start();
        };
        QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_delay, startDelay);
        QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_delay, startDelay);
        QObject::connect(&m_delay, &QTimer::timeout, &m_delay, changed);
        watchAgain();
    }

    /// Watches what the paths name now: a watch follows what it was set on wherever it moves.
    void watchAgain()
    {
        if (const QStringList watched = m_watcher.files() + m_watcher.directories();
            !watched.isEmpty())
            m_watcher.removePaths(watched);
        const std::filesystem::path folder = m_lockFile.parent_path();
        QStringList paths;
        for (const std::filesystem::path& path : {m_lockFile, folder, folder.parent_path()}) {
            std::error_code absent;
            if (std::filesystem::exists(path, absent))
                paths.append(QString::fromStdString(path.string()));
        }
        paths.removeDuplicates();
        if (!paths.isEmpty())
            m_watcher.addPaths(paths);
    }

private:
    std::filesystem::path m_lockFile;
    QFileSystemWatcher m_watcher;
    QTimer m_delay;
};

/// The name a copy listens on in one of the ways to reach it, or why it has none.
struct SingleInstance::NameClaim {
    std::unique_ptr<QLocalServer> server{};
    std::string name{};
    bool isTakenByCopy = false;
};

SingleInstance::SingleInstance(const std::filesystem::path& settingsFile)
    : m_settingsPath(settingsFile)
    , m_claim(instanceClaim(settingsFile))
    , m_lockUsers(lockUsersOf(m_claim.settingsFile))
{
    m_isTakenByAnotherCopy = tryClaim() != Outcome::claimed;
}

SingleInstance::~SingleInstance()
{
    m_servers.clear(); // first: nothing may answer for a copy that has let go of the file
}

std::optional<std::string> SingleInstance::lockFileProblem() const
{
    if (!m_lockProblem)
        return std::nullopt;
    return "QuorVane does not use the lock file \"" + m_claim.lockFile->string()
        + "\": " + *m_lockProblem + ".";
}

Lock::State SingleInstance::lockTheFile()
{
    if (!m_claim.lockFile)
        return Lock::State::notLocked;
    Lock lock = takeLock(*m_claim.lockFile, m_lockUsers, FolderCreation::missing);
    m_lock = std::move(lock.descriptor);
    m_mayWriteRecord = lock.mayWriteRecord;
    m_lockProblem = std::move(lock.problem);
    return lock.state;
}

SingleInstance::Outcome SingleInstance::tryClaim()
{
    const Lock::State lock = lockTheFile();
    if (lock == Lock::State::heldByCopy) {
        findCopiesListening();
        return Outcome::takenByCopy;
    }
    const bool isLocked = lock == Lock::State::locked;
    m_namesOfCopies.clear();
    NameClaim byPath = claimOneOf(candidateSocketNames(m_claim.socketName));
    NameClaim byFileSystem;
    if (!byPath.isTakenByCopy && m_claim.fileSystemSocketName)
        byFileSystem = claimOneOf(candidateSocketNames(*m_claim.fileSystemSocketName));
    if (byPath.isTakenByCopy || byFileSystem.isTakenByCopy) {
        // Another copy answers for the file: its lock file was deleted or replaced, or it came by
        // another path. A launch that hands over holds nothing.
        if (isLocked)
            ::flock(m_lock.get(), LOCK_UN);
        return Outcome::takenByCopy;
    }
    // The record tells later launches where this copy listens, so any free name will do. Not
    // when the lock is another user's file: nothing written, no one would find the copy there.
    const bool isRecorded = isLocked && m_mayWriteRecord;
    for (int attempt = 0; isRecorded && !byPath.server && attempt < 8; ++attempt) {
        byPath.name = randomSocketName();
        byPath.server = listenOn(byPath.name).server;
    }
    if (!byPath.server && !byFileSystem.server) {
        if (isLocked)
            ::flock(m_lock.get(), LOCK_UN);
        return Outcome::blocked;
    }
    m_recordedName = byPath.server ? byPath.name : byFileSystem.name;
    if (isRecorded)
        writeRecord(m_lock.get(), m_recordedName);
    for (NameClaim* claim : {&byPath, &byFileSystem}) {
        if (!claim->server)
            continue;
        QLocalServer& server = *claim->server;
        QObject::connect(&server, &QLocalServer::newConnection, &server,
            [this, &server] { answerHandOvers(server); });
        m_servers.push_back(std::move(claim->server));
    }
    if (isLocked)
        m_lockWatch = std::make_unique<LockWatch>(*m_claim.lockFile, [this] { keepLockInPlace(); });
    return Outcome::claimed;
}

void SingleInstance::keepLockInPlace()
{
    if (!m_lockWatch)
        return; // no lock to keep
    const std::filesystem::path& path = *m_claim.lockFile;
    // Never makes the folder: a restore that copies it back would then copy into it.
    if (!isInPlace(path, m_lock.get())) {
        Lock lock = takeLock(path, m_lockUsers, FolderCreation::none);
        if (lock.state == Lock::State::locked) {
            m_lock = std::move(lock.descriptor);
            m_mayWriteRecord = lock.mayWriteRecord;
        }
    }
    if (m_mayWriteRecord)
        writeRecord(m_lock.get(), m_recordedName);
    m_lockWatch->watchAgain();
}

void SingleInstance::findCopiesListening()
{
    m_namesOfCopies.clear();
    std::vector<std::string> names = candidateSocketNames(m_claim.socketName);
    if (m_claim.fileSystemSocketName)
        std::ranges::copy(
            candidateSocketNames(*m_claim.fileSystemSocketName), std::back_inserter(names));
    for (std::string& name : names) {
        if (isHeldByCopy(name))
            m_namesOfCopies.push_back(std::move(name));
    }
}

bool SingleInstance::isHeldByCopy(const std::string& socketName) const
{
    const std::optional<uid_t> user = listenerUser(socketName);
    return user && m_lockUsers.countsAsCopy(*user);
}

SingleInstance::NameClaim SingleInstance::claimOneOf(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        if (isHeldByCopy(name)) {
            m_namesOfCopies.push_back(name);
            return {.isTakenByCopy = true};
        }
    }
    for (const std::string& name : names) {
        Listening listening = listenOn(name);
        if (listening.server)
            return {.server = std::move(listening.server), .name = name};
        // Taken meanwhile, by a copy that started at the same moment or by someone else.
        if (listening.isNameInUse && isHeldByCopy(name)) {
            m_namesOfCopies.push_back(name);
            return {.isTakenByCopy = true};
        }
    }
    return {};
}

void SingleInstance::answerHandOvers(QLocalServer& server)
{
    while (QLocalSocket* connection = server.nextPendingConnection()) {
        QObject::connect(
            connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        if (!isOwnUser(*connection)) {
            connection->disconnectFromServer();
            continue;
        }
        QObject::connect(connection, &QLocalSocket::readyRead, connection,
            [this, connection] { answer(*connection); });
        if (connection->bytesAvailable() > 0)
            answer(*connection);
    }
}

void SingleInstance::answer(QLocalSocket& connection)
{
    char asked = 0;
    if (!m_openMainWindow || !connection.getChar(&asked) || asked != request)
        return;
    m_openMainWindow();
    connection.putChar(acknowledgement);
    connection.flush(); // before the socket goes with its unwritten answer
    connection.disconnectFromServer();
}

bool SingleInstance::handOver(std::chrono::milliseconds wait)
{
    assert(m_isTakenByAnotherCopy && "only a launch on a file that another copy has hands over");
    const QDeadlineTimer deadline(wait);
    for (;;) {
        const Outcome outcome = tryClaim();
        if (outcome == Outcome::claimed) {
            m_isTakenByAnotherCopy = false;
            return false;
        }
        if (outcome == Outcome::takenByCopy) {
            for (const std::string& name : holderSocketNames()) {
                if (isAnsweredBefore(name, deadline))
                    return true;
            }
        }
        if (deadline.hasExpired())
            throw Error(outcome == Outcome::blocked ? blockedMessage() : notAnsweringMessage());
        // The copy takes its lock a moment before it listens, and answers nothing from when it
        // begins to quit until it lets go of the file.
        QCoreApplication::processEvents();
        QThread::msleep(retryMilliseconds);
    }
}

std::vector<std::string> SingleInstance::holderSocketNames() const
{
    std::vector<std::string> names = m_namesOfCopies;
    // The holder reached the file by another path (a bind mount) when its name differs.
    if (m_claim.lockFile) {
        if (std::optional<HolderRecord> record = holderRecord(*m_claim.lockFile);
            record && std::ranges::find(names, record->socketName) == names.end())
            names.insert(names.begin(), std::move(record->socketName));
    }
    return names;
}

std::string SingleInstance::notAnsweringMessage() const
{
    std::string holder;
    if (m_claim.lockFile) {
        if (const std::optional<HolderRecord> record = holderRecord(*m_claim.lockFile))
            holder = " (process " + formatInteger(record->process) + ")";
    }
    return "QuorVane already runs on the settings file \"" + m_settingsPath.string() + "\"" + holder
        + " but does not answer.";
}

std::string SingleInstance::blockedMessage() const
{
    std::string message = "QuorVane cannot run on the settings file \"" + m_settingsPath.string()
        + "\": other users' programs hold every name it could be reached by";
    // Another user's lock file is locked but never written, so it cannot lead a launch here.
    const std::optional<std::string> reason = m_lock.isOpen() && !m_mayWriteRecord
        ? std::optional<std::string>("it belongs to another user")
        : m_lockProblem;
    if (reason)
        message += ", and it cannot use its lock file \"" + m_claim.lockFile->string() + "\" ("
            + *reason + ")";
    return message + ".";
}

void SingleInstance::onHandOver(std::function<void()> openMainWindow)
{
    m_openMainWindow = std::move(openMainWindow);
}

void SingleInstance::stopHandOvers() { m_openMainWindow = nullptr; }

} // namespace quorvane
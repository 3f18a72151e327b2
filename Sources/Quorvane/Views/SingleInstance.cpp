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
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstddef>
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

/// Socket names are this prefix and the start of the settings file's hash in hex.
constexpr std::string_view socketPrefix = "quorvane-";
constexpr std::size_t socketHashLength = 32;

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

/// A lock file that can be used, or why it cannot.
struct LockFile {
    FileDescriptor descriptor;
    std::optional<std::string> problem;
};

std::string systemReason(int error) { return std::generic_category().message(error); }

/// The lock file, made with its folder when missing (the settings store would make the folder
/// anyway). Only a regular file of this user's is used: a link, a device or another user's file
/// is left as it is, since the holder truncates and writes what it locks.
LockFile openLockFile(const std::filesystem::path& path)
{
    std::error_code ignored; // the open below fails if the folder is still missing
    std::filesystem::create_directories(path.parent_path(), ignored);
    struct stat status { };
    // Looked at before it is opened: opening a device can do something of its own.
    if (::lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return {{}, S_ISLNK(status.st_mode) ? "it is a symbolic link" : "it is not a regular file"};
    FileDescriptor descriptor(::open(
        path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!descriptor.isOpen())
        return {{}, errno == ELOOP ? "it is a symbolic link" : systemReason(errno)};
    if (::fstat(descriptor.get(), &status) != 0)
        return {{}, systemReason(errno)};
    if (!S_ISREG(status.st_mode))
        return {{}, "it is not a regular file"};
    if (status.st_uid != ::geteuid())
        return {{}, "it belongs to another user"};
    return {std::move(descriptor), std::nullopt};
}

/// What the copy that holds the lock writes into it, for launches that cannot reach it or that
/// reach the file by another path (a bind mount): its process id and its socket name.
struct HolderRecord {
    std::int64_t process = 0;
    std::string socketName;
};

bool isSocketName(std::string_view text)
{
    return text.size() == socketPrefix.size() + socketHashLength && text.starts_with(socketPrefix)
        && std::ranges::all_of(text.substr(socketPrefix.size()),
            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

/// "<process id>\n<socket name>\n"; absent for anything else, such as what another program left.
std::optional<HolderRecord> parseRecord(std::string_view text)
{
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd == std::string_view::npos || !text.ends_with('\n'))
        return std::nullopt;
    const std::string_view process = text.substr(0, lineEnd);
    const std::string_view socketName = text.substr(lineEnd + 1, text.size() - lineEnd - 2);
    HolderRecord record{.socketName = std::string(socketName)};
    const auto [last, error]
        = std::from_chars(process.data(), process.data() + process.size(), record.process);
    if (error != std::errc() || last != process.data() + process.size() || record.process <= 0
        || !isSocketName(socketName))
        return std::nullopt;
    return record;
}

/// The record in the lock at `path` while a copy holds it. Absent when none does (an ended
/// copy's record is stale) or when none can be read.
std::optional<HolderRecord> heldLockRecord(const std::filesystem::path& path)
{
    const FileDescriptor descriptor(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat status { };
    if (!descriptor.isOpen() || ::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    if (::flock(descriptor.get(), LOCK_SH | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return std::nullopt;
    std::array<char, 128> bytes{};
    const ssize_t size = ::pread(descriptor.get(), bytes.data(), bytes.size(), 0);
    if (size <= 0)
        return std::nullopt;
    return parseRecord(std::string_view(bytes.data(), static_cast<std::size_t>(size)));
}

/// Writes this process's record into the lock it holds.
void writeRecord(int descriptor, std::string_view socketName)
{
    const std::string text = formatInteger(::getpid()) + "\n" + std::string(socketName) + "\n";
    // Written over the old record, then cut to length: a reader never finds the file empty. What
    // could not be written whole goes, as it would name an ended copy.
    const bool isWhole
        = ::pwrite(descriptor, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
    [[maybe_unused]] const int cut
        = ::ftruncate(descriptor, isWhole ? static_cast<off_t>(text.size()) : 0);
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

/// Whether the copy listening on `socketName` answers a hand-over before `deadline`.
bool isAnsweredBefore(const std::string& socketName, const QDeadlineTimer& deadline)
{
    QLocalSocket connection;
    connection.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    connection.connectToServer(QString::fromStdString(socketName));
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

} // namespace

InstanceClaim instanceClaim(const std::filesystem::path& settingsFile)
{
    InstanceClaim claim{.settingsFile = resolvedFile(settingsFile)};
    const std::filesystem::path& file = claim.settingsFile;
    std::error_code ignored;
    if (const auto status = std::filesystem::status(file, ignored);
        !std::filesystem::exists(status) || std::filesystem::is_regular_file(status))
        claim.lockFile = file.parent_path() / ("." + file.filename().string() + ".lock");
    // Long enough never to meet another file's.
    const QByteArray hash = QCryptographicHash::hash(
        QByteArray::fromStdString(file.string()), QCryptographicHash::Sha256)
                                .toHex()
                                .left(static_cast<qsizetype>(socketHashLength));
    claim.socketName = std::string(socketPrefix) + hash.toStdString();
    return claim;
}

SingleInstance::SingleInstance(const std::filesystem::path& settingsFile)
    : m_settingsPath(settingsFile)
    , m_claim(instanceClaim(settingsFile))
{
    if (m_claim.lockFile) {
        LockFile lock = openLockFile(*m_claim.lockFile);
        m_lock = std::move(lock.descriptor);
        if (lock.problem)
            m_lockFileProblem = "QuorVane does not use the lock file \""
                + m_claim.lockFile->string() + "\": " + *lock.problem + ".";
    }
    m_isTakenByAnotherCopy = !tryClaim();
}

SingleInstance::~SingleInstance()
{
    m_server.reset(); // first: nothing may answer for a copy that has let go of the file
}

bool SingleInstance::tryClaim()
{
    bool isLocked = false;
    if (m_lock.isOpen()) {
        isLocked = ::flock(m_lock.get(), LOCK_EX | LOCK_NB) == 0;
        // Any failure but another holder (a file system without locks) leaves the socket name
        // alone to claim the file.
        if (!isLocked && errno == EWOULDBLOCK)
            return false;
    }
    if (!listen()) {
        // Another copy answers for the file: its lock file was deleted or replaced. A launch
        // that hands over holds nothing.
        if (isLocked)
            ::flock(m_lock.get(), LOCK_UN);
        return false;
    }
    if (isLocked)
        writeRecord(m_lock.get(), m_claim.socketName);
    return true;
}

bool SingleInstance::listen()
{
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!server->listen(QString::fromStdString(m_claim.socketName)))
        // Any other failure leaves the lock alone to claim the file; without it, nothing can.
        return server->serverError() != QAbstractSocket::AddressInUseError;
    QObject::connect(
        server.get(), &QLocalServer::newConnection, server.get(), [this] { answerHandOvers(); });
    m_server = std::move(server);
    return true;
}

void SingleInstance::answerHandOvers()
{
    while (QLocalSocket* connection = m_server->nextPendingConnection()) {
        if (m_openMainWindow && isOwnUser(*connection)) {
            m_openMainWindow();
            connection->putChar(acknowledgement);
            connection->flush(); // before the socket goes with its unwritten answer
        }
        connection->disconnectFromServer();
        connection->deleteLater();
    }
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
        for (const std::string& name : holderSocketNames()) {
            if (isAnsweredBefore(name, deadline))
                return true;
        }
        if (deadline.hasExpired())
            throw Error(notAnsweringMessage());
        // The copy takes its lock a moment before it listens, and answers nothing from when it
        // begins to quit until it lets go of the file.
        QCoreApplication::processEvents();
        QThread::msleep(retryMilliseconds);
    }
}

std::vector<std::string> SingleInstance::holderSocketNames() const
{
    std::vector<std::string> names;
    // The holder reached the file by another path (a bind mount) when its name differs.
    if (m_claim.lockFile) {
        if (std::optional<HolderRecord> record = heldLockRecord(*m_claim.lockFile);
            record && record->socketName != m_claim.socketName)
            names.push_back(std::move(record->socketName));
    }
    names.push_back(m_claim.socketName);
    return names;
}

std::string SingleInstance::notAnsweringMessage() const
{
    std::string holder;
    if (m_claim.lockFile) {
        if (const std::optional<HolderRecord> record = heldLockRecord(*m_claim.lockFile))
            holder = " (process " + formatInteger(record->process) + ")";
    }
    return "QuorVane already runs on the settings file \"" + m_settingsPath.string() + "\"" + holder
        + " but does not answer.";
}

void SingleInstance::onHandOver(std::function<void()> openMainWindow)
{
    m_openMainWindow = std::move(openMainWindow);
}

void SingleInstance::stopHandOvers() { m_openMainWindow = nullptr; }

} // namespace quorvane

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
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <random>
#include <string_view>
#include <system_error>
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

/// Socket names are this prefix and the start of a hash in hex.
constexpr std::string_view socketPrefix = "quorvane-";
constexpr std::size_t socketHashLength = 32;

/// Names tried after the first of each kind when other users' programs hold it.
constexpr int alternativeNameCount = 3;

std::string socketNameOf(std::string_view text)
{
    // Long enough never to meet another file's.
    const QByteArray hash = QCryptographicHash::hash(
        QByteArray(text.data(), static_cast<qsizetype>(text.size())), QCryptographicHash::Sha256)
                                .toHex()
                                .left(static_cast<qsizetype>(socketHashLength));
    return std::string(socketPrefix) + hash.toStdString();
}

template <typename Number> std::optional<Number> parseNumber(std::string_view text, int base = 10)
{
    Number number{};
    const auto [last, error]
        = std::from_chars(text.data(), text.data() + text.size(), number, base);
    if (error != std::errc() || last != text.data() + text.size())
        return std::nullopt;
    return number;
}

/// The pieces of `text` between `separator`s, empty ones left out.
std::vector<std::string_view> piecesOf(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start)
            pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::vector<std::string_view> linesOf(std::string_view text) { return piecesOf(text, '\n'); }
std::vector<std::string_view> wordsOf(std::string_view text) { return piecesOf(text, ' '); }

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

/// A path field of /proc/self/mountinfo, where space, tab, newline and backslash are written as
/// a backslash and three octal digits.
std::string unescapedMountPath(std::string_view field)
{
    std::string path;
    for (std::size_t index = 0; index < field.size(); ++index) {
        const std::optional<unsigned> code = field[index] == '\\' && index + 3 < field.size()
            ? parseNumber<unsigned>(field.substr(index + 1, 3), 8)
            : std::nullopt;
        if (code) {
            path += static_cast<char>(*code);
            index += 3;
        } else {
            path += field[index];
        }
    }
    return path;
}

bool isWithin(const std::filesystem::path& path, const std::filesystem::path& folder)
{
    return std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first
        == folder.end();
}

/// Where `file` lies in its file system, as the device and the path from the file system's own
/// root: the same through every mount of it. Absent when the system does not list its mounts.
std::optional<std::string> placeInFileSystem(const std::filesystem::path& file)
{
    std::string table;
    try {
        table = readFile("/proc/self/mountinfo");
    } catch (const FileError&) {
        return std::nullopt;
    }
    std::optional<std::string> place;
    std::size_t longestMountPoint = 0;
    // "36 35 98:0 /root/in/fs /mount/point options ...": of the mounts that hold the file, the
    // deepest counts, and of those on one point, the last. The file itself may be a mount point.
    for (const std::string_view line : linesOf(table)) {
        const std::vector<std::string_view> fields = wordsOf(line);
        if (fields.size() < 5)
            continue;
        const std::filesystem::path mountPoint = unescapedMountPath(fields[4]);
        const std::size_t length = mountPoint.string().size();
        if (!isWithin(file, mountPoint) || length < longestMountPoint)
            continue;
        longestMountPoint = length;
        const std::filesystem::path root = unescapedMountPath(fields[3]);
        const std::filesystem::path inside = file.lexically_relative(mountPoint);
        place = std::string(fields[2]) + " "
            + (inside == "." ? root : root / inside).lexically_normal().string();
    }
    return place;
}

std::string systemReason(int error) { return std::generic_category().message(error); }

/// A lock file that can be locked, or why it cannot.
struct LockFile {
    FileDescriptor descriptor;
    bool mayWriteRecord = false;
    std::optional<std::string> problem;
};

/// Why a file with `status` is no lock file to use, since the holder writes into what it locks.
std::optional<std::string> unusableLockReason(const struct stat& status)
{
    if (S_ISLNK(status.st_mode))
        return "it is a symbolic link";
    if (!S_ISREG(status.st_mode))
        return "it is not a regular file";
    if (status.st_nlink > 1)
        return "it has more than one hard link";
    return std::nullopt;
}

/// The lock file, made with its folder when missing (the settings store would make the folder
/// anyway), readable and writable by this user only, so that no other user can hold its lock.
/// Only a regular file with no other name is used. Another user's file is locked as it is, read
/// only, and never written.
LockFile openLockFile(const std::filesystem::path& path)
{
    std::error_code ignored; // the open below fails if the folder is still missing
    std::filesystem::create_directories(path.parent_path(), ignored);
    struct stat status { };
    // Looked at before it is opened: opening a device can do something of its own.
    const bool exists = ::lstat(path.c_str(), &status) == 0;
    if (exists) {
        if (std::optional<std::string> reason = unusableLockReason(status))
            return {{}, false, std::move(reason)};
    }
    const bool isOwn = !exists || status.st_uid == ::geteuid();
    FileDescriptor descriptor(::open(path.c_str(),
        (isOwn ? O_RDWR | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
        0600));
    if (!descriptor.isOpen())
        return {{}, false, errno == ELOOP ? "it is a symbolic link" : systemReason(errno)};
    if (::fstat(descriptor.get(), &status) != 0)
        return {{}, false, systemReason(errno)};
    if (std::optional<std::string> reason = unusableLockReason(status))
        return {{}, false, std::move(reason)};
    if (status.st_uid != ::geteuid())
        return {std::move(descriptor), false, std::nullopt};
    // One made by an earlier version, or by hand, that others may open is narrowed first.
    if ((status.st_mode & 0077) != 0 && ::fchmod(descriptor.get(), 0600) != 0)
        return {{}, false, systemReason(errno)};
    return {std::move(descriptor), true, std::nullopt};
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

/// Whether a line of /proc/locks ("1: FLOCK  ADVISORY  WRITE 812 fe:00:1093 0 EOF") is a lock
/// held on the file with `status`; its holder's process id when the system can name it.
std::optional<pid_t> holderInLine(std::string_view line, const struct stat& status)
{
    const std::vector<std::string_view> fields = wordsOf(line);
    // A "->" line is a process waiting for the lock, not holding it.
    if (fields.size() < 6 || fields[1] == "->")
        return std::nullopt;
    const std::string_view file = fields[5];
    const std::size_t firstColon = file.find(':');
    const std::size_t secondColon = file.find(':', firstColon + 1);
    if (secondColon == std::string_view::npos)
        return std::nullopt;
    const auto major = parseNumber<unsigned>(file.substr(0, firstColon), 16);
    const auto minor
        = parseNumber<unsigned>(file.substr(firstColon + 1, secondColon - firstColon - 1), 16);
    const auto inode = parseNumber<std::uint64_t>(file.substr(secondColon + 1));
    if (major != ::major(status.st_dev) || minor != ::minor(status.st_dev)
        || inode != status.st_ino)
        return std::nullopt;
    return parseNumber<pid_t>(fields[4]).value_or(0);
}

/// The processes that hold a lock on the file with `status`, as the system lists them: 0 for a
/// holder it does not name (one whose process ended, or in another PID namespace). Absent when
/// the list cannot be read.
std::optional<std::vector<pid_t>> lockHolders(const struct stat& status)
{
    std::string locks;
    try {
        locks = readFile("/proc/locks");
    } catch (const FileError&) {
        return std::nullopt;
    }
    std::vector<pid_t> holders;
    for (const std::string_view line : linesOf(locks)) {
        if (const std::optional<pid_t> holder = holderInLine(line, status))
            holders.push_back(*holder);
    }
    return holders;
}

/// The user a process runs as; absent when it has ended or cannot be seen.
std::optional<uid_t> userOfProcess(pid_t process)
{
    struct stat status { };
    if (process <= 0 || ::stat(("/proc/" + formatInteger(process)).c_str(), &status) != 0)
        return std::nullopt;
    return status.st_uid;
}

/// The lock file at `path` open for reading, with its status, unless it is no regular file.
struct OpenLock {
    FileDescriptor descriptor;
    struct stat status { };
};

std::optional<OpenLock> openForReading(const std::filesystem::path& path)
{
    OpenLock lock{FileDescriptor(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))};
    if (!lock.descriptor.isOpen() || ::fstat(lock.descriptor.get(), &lock.status) != 0
        || !S_ISREG(lock.status.st_mode))
        return std::nullopt;
    return lock;
}

bool isLockedByAnother(const OpenLock& lock)
{
    return ::flock(lock.descriptor.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

/// The record in the lock at `path`, written by the process that holds it. Absent when none
/// holds it, when the holder wrote none (an ended copy's record is stale), or when none can be
/// read.
std::optional<HolderRecord> holderRecord(const std::filesystem::path& path)
{
    const std::optional<OpenLock> lock = openForReading(path);
    if (!lock || !isLockedByAnother(*lock))
        return std::nullopt;
    std::array<char, 128> bytes{};
    const ssize_t size = ::pread(lock->descriptor.get(), bytes.data(), bytes.size(), 0);
    if (size <= 0)
        return std::nullopt;
    std::optional<HolderRecord> record
        = parseRecord(std::string_view(bytes.data(), static_cast<std::size_t>(size)));
    const std::optional<std::vector<pid_t>> holders = lockHolders(lock->status);
    if (!record || !holders
        || std::ranges::find(*holders, static_cast<pid_t>(record->process)) == holders->end())
        return std::nullopt;
    return record;
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

std::optional<uid_t> peerUser(int socket)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return std::nullopt;
    return peer.uid;
}

/// Whether the process at the other end runs as this process's user. Abstract sockets have no
/// permissions, so this keeps other users from opening our window or answering for our copy.
bool isOwnUser(const QLocalSocket& connection)
{
    return peerUser(static_cast<int>(connection.socketDescriptor())) == ::geteuid();
}

/// Who listens on `socketName`: absent when no one does, or when no one can be asked.
std::optional<uid_t> listenerUser(const std::string& socketName)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, socketName.data(), socketName.size());
    const auto size
        = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + socketName.size());
    const FileDescriptor connection(
        ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    // Never waits: a listener that lets connections pile up is not one of our copies.
    if (!connection.isOpen()
        || ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0)
        return std::nullopt;
    return peerUser(connection.get());
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
    InstanceClaim claim{.settingsFile = resolvedFile(settingsFile)};
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

/// The name a copy listens on in one of the ways to reach it, or why it has none.
struct SingleInstance::NameClaim {
    std::unique_ptr<QLocalServer> server{};
    std::string name{};
    bool isTakenByCopy = false;
};

SingleInstance::SingleInstance(const std::filesystem::path& settingsFile)
    : m_settingsPath(settingsFile)
    , m_claim(instanceClaim(settingsFile))
{
    if (m_claim.lockFile) {
        LockFile lock = openLockFile(*m_claim.lockFile);
        m_lock = std::move(lock.descriptor);
        m_mayWriteRecord = lock.mayWriteRecord;
        m_lockUnusableReason = std::move(lock.problem);
    }
    // The file's owner too: as after "su", a copy may run as the user whose file it is.
    m_usersWhoseCopiesCount = {::geteuid(), 0};
    struct stat status { };
    if (::stat(m_claim.settingsFile.c_str(), &status) == 0
        || ::stat(m_claim.settingsFile.parent_path().c_str(), &status) == 0)
        m_usersWhoseCopiesCount.push_back(status.st_uid);
    m_isTakenByAnotherCopy = tryClaim() != Outcome::claimed;
}

SingleInstance::~SingleInstance()
{
    m_servers.clear(); // first: nothing may answer for a copy that has let go of the file
}

std::optional<std::string> SingleInstance::lockProblemReason() const
{
    if (m_lockUnusableReason)
        return m_lockUnusableReason;
    if (m_isLockHeldByStranger)
        return "another user's program holds it";
    return std::nullopt;
}

std::optional<std::string> SingleInstance::lockFileProblem() const
{
    const std::optional<std::string> reason = lockProblemReason();
    if (!reason)
        return std::nullopt;
    return "QuorVane does not use the lock file \"" + m_claim.lockFile->string() + "\": " + *reason
        + ".";
}

bool SingleInstance::counts(uid_t user) const
{
    return std::ranges::find(m_usersWhoseCopiesCount, user) != m_usersWhoseCopiesCount.end();
}

bool SingleInstance::isLockHeldByCopy() const
{
    struct stat status { };
    if (::fstat(m_lock.get(), &status) != 0)
        return true;
    const std::optional<std::vector<pid_t>> holders = lockHolders(status);
    // Where the system does not say who holds it, as before there was a way to ask.
    if (!holders)
        return true;
    return std::ranges::any_of(*holders, [this](pid_t holder) {
        const std::optional<uid_t> user = userOfProcess(holder);
        return user && counts(*user);
    });
}

SingleInstance::Outcome SingleInstance::tryClaim()
{
    bool isLocked = false;
    m_isLockHeldByStranger = false;
    if (m_lock.isOpen()) {
        isLocked = ::flock(m_lock.get(), LOCK_EX | LOCK_NB) == 0;
        // Any failure but another holder (a file system without locks) leaves the names alone to
        // claim the file, and so does another user's program that holds it.
        if (!isLocked && errno == EWOULDBLOCK) {
            if (isLockHeldByCopy()) {
                findCopiesListening();
                return Outcome::takenByCopy;
            }
            m_isLockHeldByStranger = true;
        }
    }
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
    if (isRecorded)
        writeRecord(m_lock.get(), byPath.server ? byPath.name : byFileSystem.name);
    for (NameClaim* claim : {&byPath, &byFileSystem}) {
        if (!claim->server)
            continue;
        QLocalServer& server = *claim->server;
        QObject::connect(&server, &QLocalServer::newConnection, &server,
            [this, &server] { answerHandOvers(server); });
        m_servers.push_back(std::move(claim->server));
    }
    return Outcome::claimed;
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
    return user && counts(*user);
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
        : lockProblemReason();
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

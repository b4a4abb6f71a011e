#include "vqlib/Vqfiles.h"

#include "vqlib/Vqstring.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <thread>

namespace {

constexpr size_t MaxProfileValue = 2047;

// Temporaries are named ".<target>.orvel-tmp.<pid>.<nonce>"; earlier versions
// used "<target>.tmp<pid>_<counter>", and those are cleaned up too.
constexpr std::string_view TemporaryTag = ".orvel-tmp.";
constexpr std::string_view OldTemporaryTag = ".tmp";

// A lock held by a hung process must not hang the program; the locks only
// keep our own readers and writers apart, so after this long we go on.
constexpr auto LockPatience = std::chrono::seconds(2);

// Closes a descriptor when it goes out of scope.
class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    bool Close()
    {
        if (FFd < 0)
            return true;
        const bool closed = ::close(FFd) == 0;
        FFd = -1;
        return closed;
    }

private:
    int FFd;
};

// Removes a temporary file unless it was renamed into place.
class TTemporaryName {
public:
    explicit TTemporaryName(std::string path) : FPath(std::move(path)) {}
    ~TTemporaryName()
    {
        if (!FPath.empty())
            ::unlink(FPath.c_str());
    }
    TTemporaryName(const TTemporaryName&) = delete;
    TTemporaryName& operator=(const TTemporaryName&) = delete;
    const std::string& Path() const { return FPath; }
    void Keep() { FPath.clear(); }

private:
    std::string FPath;
};

bool LockWithin(int fd, int operation)
{
    const auto deadline = std::chrono::steady_clock::now() + LockPatience;
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool ReadAll(int fd, std::string& data)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        data.append(buffer, static_cast<size_t>(got));
    }
}

// The whole file, or nullopt when it cannot be opened or read. A writer that
// rewrites the file in place holds an exclusive lock, so this reads its old or
// its new content, not a half-written one.
std::optional<std::string> ReadWholeFile(const std::string& path)
{
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || S_ISDIR(info.st_mode))
        return std::nullopt;
    LockWithin(fd.Get(), LOCK_SH);
    std::string data;
    if (!ReadAll(fd.Get(), data))
        return std::nullopt;
    return data;
}

bool WriteAllAt(int fd, const std::string& data, off_t offset)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t put = ::pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A symbolic link is followed, so that the link stays and its target changes.
std::string ResolveLink(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// Reads a decimal number that makes up the whole text; nullopt otherwise.
std::optional<long> WholeNumber(std::string_view text)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool AllHex(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// Whether a name in the target's folder is one of our temporaries for it,
// and the pid of the process that wrote it.
bool IsTemporaryOf(std::string_view name, std::string_view targetName, long& pid)
{
    std::string_view rest;
    std::string_view pidText;
    const std::string prefix = "." + std::string(targetName) + std::string(TemporaryTag);
    const std::string oldPrefix = std::string(targetName) + std::string(OldTemporaryTag);
    if (name.starts_with(prefix)) {
        rest = name.substr(prefix.size());
        const auto dot = rest.find('.');
        if (dot == std::string_view::npos || !AllHex(rest.substr(dot + 1)))
            return false;
        pidText = rest.substr(0, dot);
    } else if (name.starts_with(oldPrefix)) {
        rest = name.substr(oldPrefix.size());
        const auto underscore = rest.find('_');
        if (underscore == std::string_view::npos || !WholeNumber(rest.substr(underscore + 1)))
            return false;
        pidText = rest.substr(0, underscore);
    } else {
        return false;
    }
    const auto number = WholeNumber(pidText);
    if (!number || *number <= 0)
        return false;
    pid = *number;
    return true;
}

// Reaps nothing and sends nothing: signal 0 only asks whether the process is there.
bool ProcessAlive(long pid)
{
    if (pid == ::getpid())
        return true;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// A writer holds an exclusive lock on its temporary from the moment it is
// created until after the rename; a lock we can take means nobody writes it.
void RemoveIfUnlocked(const std::string& path)
{
    struct stat named {};
    // Only a plain file is opened: opening a device can do things.
    if (::lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return;
    TFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &opened) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino)
        return;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0)
        ::unlink(path.c_str());
}

// Temporaries whose writer was killed before it could rename or remove them.
// The pid in the name tells a live writer on this machine; the lock tells one
// in another pid namespace or on another machine sharing the folder.
void RemoveLeftTemporaries(const std::string& target)
{
    const std::string dir = DirectoryOf(target);
    const std::string targetName = NameOf(target);
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), ::closedir);
    if (!listing)
        return;
    std::vector<std::string> left;
    while (const dirent* entry = ::readdir(listing.get())) {
        long pid = 0;
        if (IsTemporaryOf(entry->d_name, targetName, pid) && !ProcessAlive(pid))
            left.push_back(dir + "/" + entry->d_name);
    }
    for (const auto& path : left)
        RemoveIfUnlocked(path);
}

std::string NewTemporaryName(const std::string& target)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char nonce[20];
    std::snprintf(nonce, sizeof nonce, "%016llx", static_cast<unsigned long long>(random()));
    return DirectoryOf(target) + "/." + NameOf(target) + std::string(TemporaryTag) + std::to_string(::getpid()) +
           "." + nonce;
}

// A new, locked file beside the target; -1 with errno set when none can be made.
int CreateTemporary(const std::string& target, mode_t mode, std::string& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = NewTemporaryName(target);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

bool CopyExtendedAttributes(const std::string& from, int to)
{
    const ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP;
    std::string names(static_cast<size_t>(size), '\0');
    if (size > 0 && ::listxattr(from.c_str(), names.data(), names.size()) != size)
        return false;
    for (size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        const char* name = names.c_str() + at;
        const ssize_t length = ::getxattr(from.c_str(), name, nullptr, 0);
        if (length < 0)
            return false;
        std::string value(static_cast<size_t>(length), '\0');
        if (::getxattr(from.c_str(), name, value.data(), value.size()) != length ||
            ::fsetxattr(to, name, value.data(), value.size(), 0) != 0)
            return false;
    }
    return true;
}

// Gives the temporary what the file it replaces has, or says that it cannot.
bool TakeOverAttributes(int fd, const std::string& target, const struct stat& old)
{
    struct stat mine {};
    if (::fstat(fd, &mine) != 0)
        return false;
    if ((mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    // After the owner, since a change of owner clears the set-id bits.
    return ::fchmod(fd, old.st_mode & 07777) == 0 && CopyExtendedAttributes(target, fd);
}

void SyncDirectory(const std::string& dir)
{
    TFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0)
        ::fsync(fd.Get());
}

bool TruncateAndWrite(int fd, const std::string& data)
{
    return ::ftruncate(fd, 0) == 0 && WriteAllAt(fd, data, 0) && ::fsync(fd) == 0;
}

// The file is truncated and written where it is. A crash half-way leaves it
// cut, which is why this is only the way when the rename would change the
// file; a failed write puts the old content back.
bool WriteInPlace(const std::string& target, const std::string& data)
{
    int opened = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
    const bool readable = opened >= 0 || errno != EACCES;
    if (!readable)
        opened = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    TFd fd(opened);
    if (fd.Get() < 0)
        return false;
    LockWithin(fd.Get(), LOCK_EX);
    std::string old;
    const bool haveOld = readable && ReadAll(fd.Get(), old);
    if (TruncateAndWrite(fd.Get(), data))
        return true;
    const int reason = errno;
    // It fitted before, so it most likely fits again.
    if (haveOld)
        TruncateAndWrite(fd.Get(), old);
    errno = reason;
    return false;
}

enum class TTemporaryWrite { Done, Failed, WouldChangeTheFile };

// old: the file being replaced, or null when there is none yet.
TTemporaryWrite WriteThroughTemporary(const std::string& target, const std::string& data, const struct stat* old)
{
    std::string name;
    // A fresh file gets the usual permissions; a replacement gets the old
    // file's, and nobody else may read it before then.
    TFd fd(CreateTemporary(target, old ? 0600 : 0666, name));
    if (fd.Get() < 0) {
        const bool folderRefuses = errno == EACCES || errno == EPERM;
        return old && folderRefuses ? TTemporaryWrite::WouldChangeTheFile : TTemporaryWrite::Failed;
    }
    TTemporaryName temporary(name);
    if (old && !TakeOverAttributes(fd.Get(), target, *old))
        return TTemporaryWrite::WouldChangeTheFile;
    if (!WriteAllAt(fd.Get(), data, 0) || ::fsync(fd.Get()) != 0 || ::rename(name.c_str(), target.c_str()) != 0)
        return TTemporaryWrite::Failed;
    temporary.Keep();
    SyncDirectory(DirectoryOf(target));
    return TTemporaryWrite::Done;  // the lock goes with the descriptor, after the rename
}

}  // namespace

bool ReplaceFileContent(const std::string& path, const std::string& data)
{
    const std::string target = ResolveLink(path);
    RemoveLeftTemporaries(target);
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0)
        return errno == ENOENT && WriteThroughTemporary(target, data, nullptr) == TTemporaryWrite::Done;
    // Root may write anything; everyone else only what the file allows.
    if (!S_ISREG(old.st_mode)) {
        errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return false;
    // A rename would give the new content to this name only.
    if (old.st_nlink > 1)
        return WriteInPlace(target, data);
    switch (WriteThroughTemporary(target, data, &old)) {
    case TTemporaryWrite::Done: return true;
    case TTemporaryWrite::Failed: return false;
    case TTemporaryWrite::WouldChangeTheFile: return WriteInPlace(target, data);
    }
    return false;
}

// Every byte but a line end is kept: a zero or control byte is part of its
// line, so that the lines after it are read and written back as they were.
std::vector<std::string> SplitFileLines(std::string_view text)
{
    const std::vector<std::string_view> spans = LineSpans(text);
    return {spans.begin(), spans.end()};
}

std::string JoinFileLines(const std::vector<std::string>& lines)
{
    std::string data;
    for (const auto& line : lines) {
        data += line;
        data += "\r\n";
    }
    return data;
}

std::vector<std::string> LoadLinesFromFile(const std::string& path)
{
    const auto data = ReadWholeFile(path);
    if (!data)
        throw EFileError("Cannot open file " + path);
    return SplitFileLines(*data);
}

void SaveLinesToFile(const std::string& path, const std::vector<std::string>& lines)
{
    if (!ReplaceFileContent(path, JoinFileLines(lines)))
        throw EFileError("Cannot create file " + path);
}

// ---- profile file ----

namespace {

// One line of a profile file as it stands in the bytes: [Start, Start+Length)
// is its text, followed by EolLength bytes of line end.
struct TProfileLine {
    size_t Start;
    size_t Length;
    size_t EolLength;
};

std::vector<TProfileLine> IndexLines(const std::string& data)
{
    std::vector<TProfileLine> lines;
    for (const std::string_view line : LineSpans(data)) {
        const size_t start = static_cast<size_t>(line.data() - data.data());
        const size_t end = start + line.size();
        size_t eol = 0;
        if (end < data.size())
            eol = data.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        lines.push_back({start, line.size(), eol});
    }
    return lines;
}

// The name of a section header line, or nullopt for any other line.
std::optional<std::string> SectionName(std::string_view line)
{
    line = Trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const auto close = line.find(']');
    const auto name = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    return std::string(Trim(name));
}

bool IsKeyLine(std::string_view line, const std::string& key)
{
    const auto equals = line.find('=');
    return equals != std::string_view::npos && SameTextGbk(std::string(Trim(line.substr(0, equals))), key);
}

struct TProfileLookup {
    std::optional<size_t> Section;  // index of the header line
    std::optional<size_t> Key;      // index of the key's line
    size_t LastEntry = 0;           // last non-blank line of the section
};

TProfileLookup Find(const std::string& data, const std::vector<TProfileLine>& lines,
                    const std::string& section, const std::string& key)
{
    TProfileLookup found;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line(data.data() + lines[i].Start, lines[i].Length);
        if (const auto name = SectionName(line)) {
            if (found.Section)
                break;
            if (SameTextGbk(*name, section)) {
                found.Section = i;
                found.LastEntry = i;
            }
            continue;
        }
        if (!found.Section)
            continue;
        if (!Trim(line).empty())
            found.LastEntry = i;
        if (IsKeyLine(line, key)) {
            found.Key = i;
            break;
        }
    }
    return found;
}

// Cut to the profile's value limit without leaving half a double-byte character.
std::string CutValue(std::string value)
{
    if (value.size() <= MaxProfileValue)
        return value;
    size_t keep = 0;
    while (keep < MaxProfileValue) {
        const auto c = static_cast<unsigned char>(value[keep]);
        const size_t width = (c >= 0x81 && c <= 0xFE && keep + 1 < value.size()) ? 2 : 1;
        if (keep + width > MaxProfileValue)
            break;
        keep += width;
    }
    value.resize(keep);
    return value;
}

}  // namespace

std::string ReadProfileValue(std::string_view data, const std::string& section, const std::string& key,
                             const std::string& defaultValue)
{
    const std::string text(data);
    const auto lines = IndexLines(text);
    const auto found = Find(text, lines, section, key);
    if (!found.Key)
        return CutValue(defaultValue);
    const auto& line = lines[*found.Key];
    const std::string_view entry(text.data() + line.Start, line.Length);
    return CutValue(std::string(Trim(entry.substr(entry.find('=') + 1))));
}

std::string WithProfileValue(std::string data, const std::string& section, const std::string& key,
                             const std::string& value)
{
    const auto lines = IndexLines(data);
    const auto found = Find(data, lines, section, key);
    const std::string entry = key + "=" + value;

    if (found.Key) {
        const auto& line = lines[*found.Key];
        const size_t valueStart = data.find('=', line.Start) + 1;
        data.replace(valueStart, line.Start + line.Length - valueStart, value);
    } else if (found.Section) {
        const auto& last = lines[found.LastEntry];
        size_t insertAt = last.Start + last.Length;
        std::string insert = "\r\n" + entry;
        if (last.EolLength > 0) {
            insertAt += last.EolLength;
            insert = entry + "\r\n";
        }
        data.insert(insertAt, insert);
    } else {
        if (!data.empty() && data.back() != '\n' && data.back() != '\r')
            data += "\r\n";
        data += "[" + section + "]\r\n" + entry + "\r\n";
    }
    return data;
}

TProfileFile::TProfileFile(std::string path) : FFileName(std::move(path)) {}

std::string TProfileFile::ReadString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue) const
{
    const auto data = ReadWholeFile(FFileName);
    return ReadProfileValue(data ? *data : std::string(), section, key, defaultValue);
}

void TProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    std::string data;
    std::error_code ignored;
    const bool exists = std::filesystem::exists(FFileName, ignored);
    if (exists) {
        auto old = ReadWholeFile(FFileName);
        if (!old)
            throw EFileError("Unable to write to " + FFileName);
        data = std::move(*old);
    }
    std::string updated = WithProfileValue(data, section, key, value);
    // The value already stands: nothing to write, so that a settings file the
    // user made read-only still opens the plan it names.
    if (exists && updated == data)
        return;
    if (!ReplaceFileContent(FFileName, updated))
        throw EFileError("Unable to write to " + FFileName);
}

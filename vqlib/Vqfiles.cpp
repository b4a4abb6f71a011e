#include "vqlib/Vqfiles.h"

#include "vqlib/Vqstring.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

namespace {

constexpr size_t MaxProfileValue = 2047;

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

// The whole file, or nullopt when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path)
{
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || S_ISDIR(info.st_mode))
        return std::nullopt;
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            return data;
        data.append(buffer, static_cast<size_t>(got));
    }
}

bool FileExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
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

// A symbolic link is followed, so that the link stays and its target changes.
std::string ResolveLink(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// A new file beside the target, created with the usual permissions (the
// umask applies) or, when the target exists, with the target's permissions.
int CreateFileBeside(const std::string& target, std::string& name)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat info {};
            if (::stat(target.c_str(), &info) == 0)
                ::fchmod(fd, info.st_mode & 07777);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

void SyncDirectory(const std::string& dir)
{
    TFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0)
        ::fsync(fd.Get());
}

// Replaces the file's content as a whole: the data goes to a temporary file
// beside it, which is flushed to disk and renamed over the target. Whatever
// fails, the old file is left as it was.
bool ReplaceFileContent(const std::string& path, const std::string& data)
{
    const std::string target = ResolveLink(path);
    const std::string dir = DirectoryOf(target);
    std::string temp;
    TFd fd(CreateFileBeside(target, temp));
    if (fd.Get() < 0)
        return false;
    const bool written = WriteAll(fd.Get(), data) &&
                         ::fsync(fd.Get()) == 0 && fd.Close() &&
                         ::rename(temp.c_str(), target.c_str()) == 0;
    if (!written) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncDirectory(dir);
    return true;
}

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

}  // namespace

std::vector<std::string> LoadLinesFromFile(const std::string& path)
{
    const auto data = ReadWholeFile(path);
    if (!data)
        throw EFileError("Cannot open file " + path);
    std::string_view text(*data);
    text = text.substr(0, text.find('\0'));
    return SplitLines(text);
}

void SaveLinesToFile(const std::string& path, const std::vector<std::string>& lines)
{
    std::string data;
    for (const auto& line : lines) {
        data += line;
        data += "\r\n";
    }
    if (!ReplaceFileContent(path, data))
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
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back({start, data.size() - start, 0});
            break;
        }
        size_t eol = 1;
        if (data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n')
            eol = 2;
        lines.push_back({start, end - start, eol});
        start = end + eol;
    }
    return lines;
}

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
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

TProfileFile::TProfileFile(std::string path) : FFileName(std::move(path)) {}

std::string TProfileFile::ReadString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue) const
{
    const auto data = ReadWholeFile(FFileName);
    if (!data)
        return CutValue(defaultValue);
    const auto lines = IndexLines(*data);
    const auto found = Find(*data, lines, section, key);
    if (!found.Key)
        return CutValue(defaultValue);
    const auto& line = lines[*found.Key];
    const std::string_view text(data->data() + line.Start, line.Length);
    return CutValue(std::string(Trim(text.substr(text.find('=') + 1))));
}

void TProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    std::string data;
    if (FileExists(FFileName)) {
        auto old = ReadWholeFile(FFileName);
        if (!old)
            throw EFileError("Unable to write to " + FFileName);
        data = std::move(*old);
    }
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
    if (!ReplaceFileContent(FFileName, data))
        throw EFileError("Unable to write to " + FFileName);
}

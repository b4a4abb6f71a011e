#include "tests/support/Asuser.h"

#include "engine/Icmpecho.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace {

constexpr uid_t NobodyUid = 65534;
constexpr gid_t NobodyGid = 65534;
constexpr char SkipMark = '\x01';

bool IsRoot() { return ::geteuid() == 0; }

// In the child: become the ordinary user, or say why not.
std::string DropRights()
{
    if (!IsRoot())
        return {};
    if (::setgroups(0, nullptr) != 0)
        return std::string("setgroups: ") + std::strerror(errno);
    if (::setresgid(NobodyGid, NobodyGid, NobodyGid) != 0)
        return std::string("setresgid: ") + std::strerror(errno);
    if (::setresuid(NobodyUid, NobodyUid, NobodyUid) != 0)
        return std::string("setresuid: ") + std::strerror(errno);
    return {};
}

void WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        done += static_cast<size_t>(put);
    }
}

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return text;
        text.append(buffer, static_cast<size_t>(got));
    }
}

[[noreturn]] void RunChild(int out, const std::string& folder, const std::function<std::string()>& action)
{
    const std::string failure = DropRights();
    if (!failure.empty()) {
        WriteAll(out, SkipMark + ("cannot become an ordinary user: " + failure));
        ::_exit(0);
    }
    if (::access(folder.c_str(), X_OK) != 0) {
        WriteAll(out, SkipMark + (folder + " is out of an ordinary user's reach"));
        ::_exit(0);
    }
    std::string result;
    try {
        result = action();
    } catch (const std::exception& error) {
        result = std::string("error: ") + error.what();
    }
    WriteAll(out, result);
    ::_exit(0);
}

}  // namespace

uid_t OrdinaryUid() { return IsRoot() ? NobodyUid : ::getuid(); }
gid_t OrdinaryGid() { return IsRoot() ? NobodyGid : ::getgid(); }

TUserRun RunAsOrdinaryUser(const std::string& folder, const std::function<std::string()>& action)
{
    TUserRun run;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        run.SkipReason = "no pipe";
        return run;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        RunChild(pipeFds[1], folder, action);
    }
    ::close(pipeFds[1]);
    if (child < 0) {
        ::close(pipeFds[0]);
        run.SkipReason = "cannot fork";
        return run;
    }
    const std::string text = ReadAll(pipeFds[0]);
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!text.empty() && text[0] == SkipMark) {
        run.SkipReason = text.substr(1);
        return run;
    }
    run.Ran = true;
    run.Result = text;
    if (WIFSIGNALED(status))
        run.Result = "child killed by signal " + std::to_string(WTERMSIG(status));
    return run;
}

TUserRun RunWithoutPingRights(const std::string& folder, const std::function<std::string()>& action)
{
    return RunAsOrdinaryUser(folder, [&action] {
        const TIcmpEcho probe;
        if (probe.IsOpen())
            return SkipMark + std::string("this user may open an ICMP socket");
        return action();
    });
}

void LetOrdinaryUserIn(const std::string& folder)
{
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0)
        ::chmod(folder.c_str(), (info.st_mode & 07777) | S_IXOTH);
}

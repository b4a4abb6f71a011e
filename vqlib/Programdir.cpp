#include "vqlib/Programdir.h"

#include <filesystem>
#include <mutex>

namespace {

std::mutex overrideMutex;
std::string overrideDir;  // empty: none; guarded by overrideMutex

std::filesystem::path ProgramFile()
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe;
}

std::string RunningProgramDir()
{
    const std::filesystem::path exe = ProgramFile();
    if (exe.empty())
        return "./";
    return exe.parent_path().string() + "/";
}

// Returns the override that was set before.
std::string SetOverride(std::string dir)
{
    std::lock_guard lock(overrideMutex);
    std::swap(overrideDir, dir);
    return dir;
}

}  // namespace

std::string ProgramDir()
{
    std::string dir;
    {
        std::lock_guard lock(overrideMutex);
        dir = overrideDir;
    }
    if (dir.empty())
        return RunningProgramDir();
    return dir.back() == '/' ? dir : dir + "/";
}

TProgramDirScope::TProgramDirScope(const std::string& dir) : FPrevious(SetOverride(dir)) {}

TProgramDirScope::~TProgramDirScope() { SetOverride(FPrevious); }

std::string RunningProgram(const std::string& fallback)
{
    const std::filesystem::path exe = ProgramFile();
    return exe.empty() ? fallback : exe.string();
}

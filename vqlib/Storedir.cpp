#include "vqlib/Storedir.h"

#include "vqlib/Programdir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const char* const kStoreFiles[] = {"Projects.dat", "DestLists.ini"};

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// As QDir::homePath gives it: cleaned, without a trailing "/", "/" when unset.
std::string HomeDir()
{
    std::string home = fs::path(Environment("HOME")).lexically_normal().string();
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home.empty() ? "/" : home;
}

bool IsFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The data folder holds what the user keeps to themselves: folders made
// here are the user's alone, as the XDG base directory rules ask.
bool MakeFolders(const fs::path& folder)
{
    std::error_code error;
    if (folder.empty() || fs::is_directory(folder, error))
        return true;
    const fs::path parent = folder.parent_path();
    if (parent != folder && !MakeFolders(parent))
        return false;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Copies source to target unless target exists. The copy appears whole or
// not at all, so a program started at the same moment never takes a half
// copy for the user's store.
void CopyIfMissing(const fs::path& source, const fs::path& target)
{
    if (!IsFile(source))
        return;
    const fs::path partial = target.string() + ".seed-" + std::to_string(::getpid());
    std::error_code error;
    if (fs::copy_file(source, partial, fs::copy_options::overwrite_existing, error)
        && ::link(partial.c_str(), target.c_str()) != 0 && errno != EEXIST
        && !fs::exists(target, error))
        fs::rename(partial, target, error);  // a file system without hard links
    fs::remove(partial, error);
}

void SeedFromInstalledPlan(const fs::path& folder, const fs::path& planDir)
{
    if (IsFile(folder / "Projects.dat"))
        return;
    for (const char* name : kStoreFiles)
        CopyIfMissing(planDir / name, folder / name);
}

}  // namespace

std::string UserDataDir()
{
    std::string base = Environment("XDG_DATA_HOME");
    if (base.empty())
        base = HomeDir() + "/.local/share";
    return base + "/orvel";
}

std::string InstalledPlanDir()
{
    const std::string dir = ProgramDir() + "../share/orvel/";
    return IsFile(dir + "Projects.dat") ? dir : std::string();
}

std::string StoreDir(const std::string& userDataDir)
{
    const std::string planDir = InstalledPlanDir();
    if (planDir.empty())
        return ProgramDir();
    std::string folder = userDataDir.empty() ? UserDataDir() : userDataDir;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (MakeFolders(folder))
        SeedFromInstalledPlan(folder, planDir);
    return folder + "/";
}

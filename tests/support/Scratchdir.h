#pragma once
// A fresh temporary directory for one test, removed with everything in it.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <stdlib.h>

class TScratchDir {
public:
    TScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvel-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a scratch directory");
        FPath = pattern;
    }
    ~TScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

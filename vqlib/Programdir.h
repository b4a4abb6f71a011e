#pragma once
// The folder of the running program, where the window and orvel-cli keep
// DestLists.ini and Projects.dat.

#include <string>

// The folder with its trailing "/"; "./" when the running program cannot be
// found. While a TProgramDirScope lives, its folder instead.
std::string ProgramDir();

// The running program's own file as the system names it (/proc/self/exe),
// whatever name it was started by; fallback when it cannot be found.
std::string RunningProgram(const std::string& fallback);

// Points ProgramDir at a folder of the test's own for one scope, and puts
// back what was there before, also when the test fails.
class TProgramDirScope {
public:
    explicit TProgramDirScope(const std::string& dir);
    ~TProgramDirScope();
    TProgramDirScope(const TProgramDirScope&) = delete;
    TProgramDirScope& operator=(const TProgramDirScope&) = delete;

private:
    std::string FPrevious;  // empty: the running program's folder
};

// Kills store writers at random moments and looks at what they leave.
//
// A child process rewrites Projects.dat in a loop with one of several
// versions of a store (a few plans to a few thousand); the parent kills it
// with SIGKILL after a random pause, then checks that the file holds one whole
// version, every plan readable, and that the next write leaves no temporary
// file. The same kills hit a plain truncate-and-write writer (the way a store
// was rewritten before the rename) and the in-place way that a hard-linked
// store takes, for comparison.
//
//   bench_store_kills [kills] [comparison kills]   (default 1000 and 200)

#include "engine/Projectstore.h"
#include "tests/support/Scratchdir.h"
#include "vqlib/Vqfiles.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

enum class TWriter { Orvel, InPlace, TruncateAndWrite };

struct TFigures {
    int Kills = 0;
    int LeftATemporary = 0;  // the kill landed inside a write
    int Whole = 0;           // the store held one whole version afterwards
    long PlansChecked = 0;
    int TemporariesAfterNextWrite = 0;
    double WriteMs = 0;      // mean time of one write, measured by the parent
};

TLines Version(int v)
{
    TLines lines;
    const int plans = 5 + v * 300;
    for (int p = 0; p < plans; ++p) {
        std::string text;
        for (int item = 0; item < 3; ++item) {
            if (item)
                text += '#';
            text += "item" + std::to_string(p) + "_" + std::to_string(item) + "_v" + std::to_string(v) + "^127.0.0." +
                    std::to_string(1 + (p + item) % 250) + "^" + std::to_string((v + item) % 2);
        }
        lines.push_back("plan" + std::to_string(p) + "=" + text);
    }
    return lines;
}

const std::vector<TLines>& Versions()
{
    static const std::vector<TLines> versions = [] {
        std::vector<TLines> all;
        for (int v = 0; v < 8; ++v)
            all.push_back(Version(v));
        return all;
    }();
    return versions;
}

void Write(TWriter writer, const std::string& path, const TLines& lines)
{
    if (writer == TWriter::TruncateAndWrite) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << JoinFileLines(lines);
        return;
    }
    SaveLinesToFile(path, lines);
}

[[noreturn]] void WriteUntilKilled(TWriter writer, const std::string& path, unsigned seed)
{
    std::mt19937 random(seed);
    for (;;)
        Write(writer, path, Versions()[random() % Versions().size()]);
}

int OtherFiles(const std::filesystem::path& dir)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const auto name = entry.path().filename().string();
        count += name != "Projects.dat" && name != "link.dat";
    }
    return count;
}

// Whether the store holds one version whole, every plan of it readable with
// its three items.
bool WholeVersion(const std::string& path, long& plansChecked)
{
    const TLines lines = LoadLinesFromFile(path);
    for (const TLines& version : Versions()) {
        if (lines != version)
            continue;
        for (const std::string& line : lines) {
            const auto items = TextToItems(line.substr(line.find('=') + 1));
            if (items.size() != 3 || ItemsToText(items) != line.substr(line.find('=') + 1))
                return false;
            ++plansChecked;
        }
        return true;
    }
    return false;
}

TFigures Run(TWriter writer, int kills, unsigned seed)
{
    TScratchDir dir;
    const std::string path = dir.File("Projects.dat");
    Write(writer, path, Versions()[0]);
    if (writer == TWriter::InPlace)
        std::filesystem::create_hard_link(path, dir.File("link.dat"));
    std::mt19937 random(seed);
    TFigures figures;
    double writeSeconds = 0;
    for (int kill = 0; kill < kills; ++kill) {
        const pid_t child = ::fork();
        if (child == 0)
            WriteUntilKilled(writer, path, seed + kill);
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ++figures.Kills;
        figures.LeftATemporary += OtherFiles(dir.Path()) > 0;
        figures.Whole += WholeVersion(path, figures.PlansChecked);

        const auto start = std::chrono::steady_clock::now();
        Write(writer, path, Versions()[random() % Versions().size()]);
        writeSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        figures.TemporariesAfterNextWrite += OtherFiles(dir.Path());
    }
    figures.WriteMs = kills ? writeSeconds * 1000 / kills : 0;
    return figures;
}

void Print(const char* name, const TFigures& f)
{
    std::printf("%-34s %6d %10d %12d/%-6d %12ld %14d %9.2f\n", name, f.Kills, f.LeftATemporary, f.Whole, f.Kills,
                f.PlansChecked, f.TemporariesAfterNextWrite, f.WriteMs);
}

}  // namespace

int main(int argc, char* argv[])
{
    const int kills = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int comparisonKills = argc > 2 ? std::atoi(argv[2]) : 200;
    std::printf("store versions: %zu, from %zu to %zu plans (%zu to %zu bytes)\n", Versions().size(),
                Versions().front().size(), Versions().back().size(), JoinFileLines(Versions().front()).size(),
                JoinFileLines(Versions().back()).size());
    std::printf("%-34s %6s %10s %19s %12s %14s %9s\n", "writer", "kills", "mid-write", "whole afterwards",
                "plans intact", "temps after", "write ms");
    std::fflush(stdout);
    const TFigures orvel = Run(TWriter::Orvel, kills, 1);
    Print("orvel (temporary + rename)", orvel);
    std::fflush(stdout);
    Print("orvel in place (hard-linked store)", Run(TWriter::InPlace, comparisonKills, 2));
    std::fflush(stdout);
    Print("reference: truncate and write", Run(TWriter::TruncateAndWrite, comparisonKills, 3));
    std::printf("mid-write: kills after which a temporary file lay beside the store (never removed before)\n"
                "temps after: temporary files left after the next write, summed over all kills\n");
    return orvel.Whole == orvel.Kills && orvel.TemporariesAfterNextWrite == 0 ? 0 : 1;
}

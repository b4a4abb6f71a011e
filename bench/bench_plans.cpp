// How the size of a plan tells on the program: for generated plans of 1,000,
// 10,000 and 100,000 items, the time to
// 1. split the plan text into items (TextToItems);
// 2. read the plan from the store and write it back (load + save);
// 3. list the plans with `orvel-cli --list` (as a process);
// 4. open the window on the plan, until the list is built and painted
//    (offscreen).
// Nothing is measured over the network and the plan is never run.
//   bench_plans

#include "app/Main_quellan.h"
#include "engine/Projectstore.h"
#include "vqlib/Programdir.h"
#include "vqlib/Vqwindows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr int kSizes[] = {1000, 10000, 100000};
constexpr int kRounds = 3;

// "name^host^method" entries joined by "#", a GBK name now and then.
std::string PlanText(int items)
{
    std::string text;
    for (int i = 0; i < items; ++i) {
        if (i)
            text += '#';
        // "站点" in GBK, so that double-byte names are split too.
        text += (i % 3 == 0 ? std::string("\xD5\xBE\xB5\xE3") : std::string("site")) + std::to_string(i);
        text += "^127." + std::to_string((i >> 16) & 255) + "." + std::to_string((i >> 8) & 255) + "." +
                std::to_string(i & 255) + "^" + std::to_string(i % 2);
    }
    return text;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Best of kRounds, in milliseconds.
double BestMs(const std::function<void()>& work)
{
    double best = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = TClock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(TClock::now() - start).count());
    }
    return best;
}

// A store of two plans, the big one between the others, named in the settings.
void WriteStore(const std::string& dir, const std::string& plan)
{
    WriteFile(dir + "/Projects.dat", "before=a^127.0.0.1^0\r\nbig=" + plan + "\r\nafter=b^127.0.0.2^1\r\n");
    WriteFile(dir + "/DestLists.ini", "[config]\r\nproject=big\r\n");
}

double TextToItemsMs(const std::string& plan)
{
    size_t count = 0;
    const double ms = BestMs([&] { count = TextToItems(plan).size(); });
    if (count == 0)
        std::fprintf(stderr, "no items read\n");
    return ms;
}

double LoadSaveMs(const std::string& dir, const std::string& plan)
{
    const std::string before = "before=a^127.0.0.1^0\r\nbig=" + plan + "\r\nafter=b^127.0.0.2^1\r\n";
    return BestMs([&] {
        TProjectStore store(dir + "/Projects.dat");
        const std::vector<TDNSDispInfo> items = TextToItems(store.GetProjectText("big"));
        store.SetProjectText("big", ItemsToText(items));
        std::ifstream in(dir + "/Projects.dat", std::ios::binary);
        const std::string after{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (after != before)
            std::fprintf(stderr, "the saved store differs from the one read\n");
    });
}

double CliListMs(const std::string& dir)
{
    const std::string command = "'" + ProgramDir() + "/orvel-cli' --list --dir '" + dir + "' >/dev/null";
    return BestMs([&] {
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "orvel-cli --list failed\n");
    });
}

// From construction until the list's rows are built and a paint has run.
double WindowOpenMs(const QString& dir, int items)
{
    TProgramDirScope programDir(dir.toStdString());
    return BestMs([&] {
        TfrmTarnix window;
        window.show();
        QApplication::processEvents();
        auto* list = window.findChild<QTreeWidget*>(QStringLiteral("lvInfos"));
        if (!list || list->topLevelItemCount() != items)
            std::fprintf(stderr, "the window shows %d rows\n", list ? list->topLevelItemCount() : -1);
        list->viewport()->repaint();
    });
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TMsgBoxHookScope boxes([](const TMsgBoxRequest& request) {
        std::fprintf(stderr, "unexpected box: %s\n", qPrintable(request.Text));
        return int(IDOK);
    });

    std::printf("best of %d, milliseconds\n", kRounds);
    std::printf("%9s %12s %12s %14s %12s\n", "items", "TextToItems", "load+save", "cli --list", "window");
    for (const int items : kSizes) {
        QTemporaryDir dir;
        const std::string path = dir.path().toStdString();
        const std::string plan = PlanText(items);
        WriteStore(path, plan);
        const double split = TextToItemsMs(plan);
        const double store = LoadSaveMs(path, plan);
        const double list = CliListMs(path);
        const double window = WindowOpenMs(dir.path(), items);
        std::printf("%9d %12.2f %12.2f %14.2f %12.2f\n", items, split, store, list, window);
        std::fflush(stdout);
    }
    return 0;
}

#pragma once
// The main window: owns the open plan's items, the plan files and the run.
//
// The class is implemented over several files, one per concern:
//   Main_quellan.cpp        construction, layout, commands' wiring, display
//   Main_quellan_Store.cpp  settings file and plan store operations
//   Main_quellan_Plans.cpp  plan commands and the unsaved-changes question
//   Main_quellan_Items.cpp  item commands
//   Main_quellan_Run.cpp    the test run's handlers
//   Main_quellan_Sort.cpp   list sorting

#include "app/Captionindex.h"
#include "app/Public.h"
#include "engine/Projectstore.h"
#include "engine/Livetries.h"
#include "engine/Testrun.h"
#include "engine/Trytimes.h"
#include "engine/Watchschedule.h"
#include "vqlib/Vqcontrolex.h"
#include "vqlib/Vqfiles.h"
#include "vqlib/Vqhook.h"

#include <QIcon>
#include <QMainWindow>
#include <QPixmap>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMenu;
class THistoryRecorder;
class TRunAlerts;
class TfrmLiveChart;
class TWindowSettings;
class QTimer;
class QTreeWidgetItem;
class QWidget;

namespace Ui { class TfrmTarnix; }

// Everything else of the window is its own: it is driven through its
// controls, found by their object names (the actions actNewProject ...
// actAbout and actExit, actStopTest, actWatchTest and actNotify, the list
// lvInfos, the panels pnlFinish, pnlItemCount and pnlAvgTime, StatusBar,
// ToolBar1, MainMenu1, PopupMenu1, tmrFlash, tmrWatch).
//
// One command runs another the way a menu click does: ui->actX->trigger()
// (a disabled action then does nothing). Every action, the list's signals and
// tmrFlash reach their handlers through RunGuarded (app/Apperror.h).
class TfrmTarnix : public QMainWindow {
    Q_OBJECT
public:
    // Opens DestLists.ini and Projects.dat in the store's folder (StoreDir of
    // vqlib/Storedir.h: the program's folder, or for an installed copy the
    // per-user QStandardPaths::AppDataLocation) and loads the last plan; a
    // store that exists but cannot be read throws EFileError. A plan name
    // that cannot be written back is shown in the error box and the window
    // opens all the same.
    explicit TfrmTarnix(QWidget* parent = nullptr);
    ~TfrmTarnix() override;

    // Test seam: a window whose first test run starts while a scope is alive
    // starts the workers of its runs through starter instead of measuring.
    // Leaving the scope restores the starter that was there before.
    class TWorkerStarterScope {
    public:
        explicit TWorkerStarterScope(TTestRun::TWorkerStarter starter);

    private:
        THookScope<TTestRun::TWorkerStarter> FScope;
    };

    // Test seam: while alive, completed runs are recorded into path instead
    // of History.db in the store's folder; an empty path records nothing.
    class THistoryFileScope {
    public:
        explicit THistoryFileScope(std::string path);

    private:
        THookScope<std::optional<std::string>> FScope;
    };

    // Test seam: while alive, the waits between continuous runs are not
    // timed. Each is handed to wait with its length (zero: the run before
    // took the whole interval or longer); the next run starts when start is
    // called, on the UI thread. A start called after the watch has ended, or
    // after the window is gone, does nothing.
    using TWatchWait = std::function<void(std::chrono::milliseconds delay, std::function<void()> start)>;
    class TWatchWaitScope {
    public:
        explicit TWatchWaitScope(TWatchWait wait);

    private:
        THookScope<TWatchWait> FScope;
    };

signals:
    // A completed run went to the history (ok) or could not; on the UI thread.
    void HistoryRecorded(bool ok);
    // A run ended: completed (and sent to the history) or stopped. On the UI
    // thread, once the list, panels, status text and commands show the end;
    // while watching, the next run is scheduled right after.
    void RunEnded(bool completed);
    // One try of the run in progress ended: the item's place in the open
    // plan and its name, when the try ended (microseconds since the Unix
    // epoch), whether it was answered and how long it took (microseconds).
    // Queued from the workers' threads to the UI thread, in the order each
    // worker made its tries; one made just before a stop may come after its
    // RunEnded(false).
    void TryMade(int itemIndex, QString itemName, qint64 unixMicros, bool ok, qint64 elapsedMicros);

protected:
    bool event(QEvent* event) override;            // keeps the status text the run's
    bool eventFilter(QObject* watched, QEvent* event) override;  // Enter on the list
    void showEvent(QShowEvent* event) override;    // FormShow
    void closeEvent(QCloseEvent* event) override;  // FormClose

private:
    friend class TInfoRow;  // its order is lvInfosCompare's

    static TTestRun::TWorkerStarter InstalledWorkerStarter();  // empty: real workers

    std::unique_ptr<Ui::TfrmTarnix> ui;  // controls by their designed names
    QMenu* PopupMenu1;   // the list's context menu
    QTimer* tmrFlash;    // 200 ms, stopped; runs tmrFlashTimer
    QTimer* tmrWatch;    // single shot: the wait before the next continuous run
    std::vector<QIcon> ilDisplay;  // command images 0..7, each with its greyed form (app/Images.h)
    QPixmap imgUp;       // hidden sort arrows, red = not drawn
    QPixmap imgDown;

    // --- state (see the member table of the window) ---
    TDNSDispInfos Infos;
    std::unique_ptr<TProfileFile> FIniFile;   // absent when it could not be opened
    std::string FProjectName;                 // GBK; empty = unnamed plan
    std::string FProjectsFile;                // full path of Projects.dat
    std::unique_ptr<TProjectStore> FProjects; // working copy of the store
    bool FTesting = false;  // a run is in progress
    bool FPingDeniedShown = false;  // the box on Ping's missing rights came up once
    bool FShortageShown = false;    // the box on tries that ran out of descriptors or memory came up once
    int32_t FTimeout = TTestRun::kTryTimeout;
    int32_t FTestTimes = TTestRun::kTriesPerItem;
    int32_t FSortColumn = -1;
    bool FSortDescending = false;
    vqlib::TListViewTool FListViewTool;
    TCaptionIndex FRowsByCaption;  // UpdateItemRow's search for a row

    void Construct();
    void OpenLastProject();
    void SetUpCommands();
    void SetUpShortcuts();
    void SetUpList();

    // --- display (Main_quellan.cpp) ---
    // Rows are TInfoRow (app/Inforow.h), each pointing at its record.
    void UpdateActions();
    void UpdateItemRow(QTreeWidgetItem* row, TDNSDispInfo& item);
    void RefreshList();
    void FitColumns();
    void ForgetRunStatus();
    void ShowInfo(int index, const QString& text);
    void PlaceInStatusBar(QWidget* panel);

    // --- settings and store (Main_quellan_Store.cpp) ---
    std::string ReadSetting(const std::string& section, const std::string& key);
    void WriteSetting(const std::string& section, const std::string& key, const std::string& value);
    std::string GetProjectText(const std::string& name);
    void SetProjectText(const std::string& name, const std::string& text);
    void RemoveProject(const std::string& name);
    void ListProjects(std::vector<std::string>& target);
    std::string ItemsToText() const;
    void LoadProject(const std::string& name);  // ShowProject, then RememberProject
    void ShowProject(const std::string& name);
    void RememberProject();

    // --- plan commands (Main_quellan_Plans.cpp) ---
    bool QuerySave();
    void StoreProject(const std::string& name);
    void actNewProjectExecute();
    void actOpenProjectExecute();
    void actSaveProjectExecute();
    void actSaveAsProjectExecute();
    void actDelProjectExecute();
    bool PlanChanged();  // the plan text differs from the stored one

    // --- item commands (Main_quellan_Items.cpp) ---
    void actAddItemExecute();
    void actDelItemExecute();
    void actModifyItemExecute();
    void lvInfosDblClick();

    // --- test run (Main_quellan_Run.cpp) ---
    // The window's side of a run: actTestSpendingExecute prepares the window,
    // ResolveHosts and StartWaitingItems hand over to the engine's run, which
    // calls HostsResolved once the names are looked up, ItemFinished for
    // each report and RunCompleted after the last.
    // FRun, made by the first run, owns the run's lock and counts. Declared
    // after Infos, so it goes first: a run still in progress when the window
    // is destroyed is shut down, its workers waited for, before the records
    // they point at are freed.
    TTryLog FTryLog;  // fed by the run's workers; outlives FRun, declared below
    std::unique_ptr<TTestRun> FRun;
    // Runs a stop shut down, kept until a run begins outside every run's
    // callback: a stop may come from an event served inside one of them
    // (the list's refresh serves events).
    std::vector<std::unique_ptr<TTestRun>> FStoppedRuns;
    int FRunCallbackDepth = 0;
    // The items whose reports the window took in this run, in the order of
    // Infos: a worker cut off by a stop may leave its results in its item
    // without reporting them.
    std::vector<bool> FReported;
    TTestRun& TestRun();
    void actTestSpendingExecute();
    void ResolveHosts();
    void HostsResolved();
    void StartWaitingItems(int count);
    void ItemFinished(TDNSDispInfo* item);
    void ShowFinishedCount();
    void RunCompleted();
    void ExplainPingDenied();
    void tmrFlashTimer();
    void BeginRun();
    void ShowRunStatus(const QString& text);
    void TellTry(const TDNSDispInfo& item, const TTryOutcome& outcome);  // workers' threads

    // --- stopping and continuous runs (Main_quellan_Run.cpp) ---
    // A stop shuts FRun down and sets it aside: a run once shut down starts
    // no more, and the next one makes a new run.
    bool FWatching = false;  // continuous runs until a stop; also between runs
    TWatchSchedule FWatch;
    int FWatchGeneration = 0;  // a wait of a watch that has ended starts nothing
    std::unique_ptr<TWindowSettings> FSettings;
    // Notifications of items that stop or start answering, and the tray
    // icon; a child, object name RunAlerts.
    TRunAlerts* FAlerts = nullptr;
    void SetUpAlerts();
    TWindowSettings& Settings();
    void actStopTestExecute();
    void StopRun();
    void actWatchTestExecute();
    void StartWatchedRun();
    void ScheduleWatchedRun();
    void EndWatch();
    void actNotifyExecute();

    // --- results: details, export, history (Main_quellan_Results.cpp) ---
    // The last run's tries, in the order of Infos; kept with the list's
    // results until the next run or another plan.
    std::vector<TTryOutcomes> FItemOutcomes;
    std::chrono::system_clock::time_point FRunStarted;
    std::unique_ptr<THistoryRecorder> FRecorder;  // made by the first completed run
    bool FHistoryFailureShown = false;  // the box on an unrecordable run came up once
    std::string FStoreDir;  // with its trailing "/"
    void ForgetTries();
    void ForgetTriesOf(const std::vector<bool>& doomed);
    void KeepTries();
    bool HasResults(const TDNSDispInfo* item) const;
    TDNSDispInfo* SingleSelected() const;
    std::string HistoryFile() const;
    std::string PlanNameUtf8() const;
    void RecordRun();
    void RunRecorded(const std::optional<std::string>& error);
    void actItemDetailsExecute();
    void actPathTraceExecute();
    void actHistoryExecute();

    // --- the live chart (Main_quellan_Results.cpp) ---
    // Every try of the open plan's runs as it comes in, for the chart; the
    // chart window is made by its first opening and lives with the window.
    std::shared_ptr<TLiveTries> FLiveTries = std::make_shared<TLiveTries>();
    TfrmLiveChart* FLiveChart = nullptr;
    void actLiveChartExecute();
    void KeepLiveTry(const QString& itemName, qint64 unixMicros, bool ok, qint64 elapsedMicros);
    void ShowLiveItems();
    void actExportResultsExecute();
    QList<QStringList> ResultRows() const;

    // --- sorting (Main_quellan_Sort.cpp) ---
    void lvInfosColumnClick(int column);
    int lvInfosCompare(QTreeWidgetItem* item1, QTreeWidgetItem* item2) const;
    static int CompareTimes(const QString& text1, const QString& text2);

    // --- help (Main_quellan.cpp) ---
    void actHelpExecute();
    void actAboutExecute();
    void actExitExecute();
    void lvInfosSelectItem();
};

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

#include "app/Public.h"
#include "engine/Projectstore.h"
#include "vqlib/Vqcontrolex.h"
#include "vqlib/Vqfiles.h"

#include <QMainWindow>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QTreeWidgetItem;
class QWidget;

namespace Ui { class TfrmTarnix; }

class TfrmTarnix : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmTarnix(QWidget* parent = nullptr);
    ~TfrmTarnix() override;

    Ui::TfrmTarnix* ui;  // controls by their designed names (ui->lvInfos, ui->actAddItem, ...)

    // --- state (see the member table of the window) ---
    TDNSDispInfos Infos;
    std::unique_ptr<TProfileFile> FIniFile;   // absent when it could not be opened
    std::string FProjectName;                 // GBK; empty = unnamed plan
    std::string FProjectsFile;                // full path of Projects.dat
    std::unique_ptr<TProjectStore> FProjects; // working copy of the store
    bool FTesting = false;
    int32_t FRunningCount = 0;
    std::recursive_mutex FLock;
    int32_t FTimeout = 5000;
    int32_t FTestTimes = 5;
    int32_t FSortColumn = -1;
    bool FSortDescending = false;
    vqlib::TListViewTool FListViewTool;

    // --- display (Main_quellan.cpp) ---
    void UpdateActions();
    void UpdateItemRow(QTreeWidgetItem* row, TDNSDispInfo& item);
    void RefreshList();
    void ShowInfo(int index, const QString& text);
    void PlaceInStatusBar(QWidget* panel);
    static TDNSDispInfo* RowInfo(QTreeWidgetItem* row);  // the record a row shows

    // --- settings and store (Main_quellan_Store.cpp) ---
    std::string ReadSetting(const std::string& section, const std::string& key);
    void WriteSetting(const std::string& section, const std::string& key, const std::string& value);
    void ReloadProjects();
    std::string GetProjectText(const std::string& name);
    void SetProjectText(const std::string& name, const std::string& text);
    void RemoveProject(const std::string& name);
    void ListProjects(std::vector<std::string>& target);
    std::string ItemsToText() const;
    void LoadProject(const std::string& name);

    // --- plan commands (Main_quellan_Plans.cpp) ---
    bool QuerySave();
    void StoreProject(const std::string& name);
    void actNewProjectExecute();
    void actOpenProjectExecute();
    void actSaveProjectExecute();
    void actSaveAsProjectExecute();
    void actDelProjectExecute();

    // --- item commands (Main_quellan_Items.cpp) ---
    void actAddItemExecute();
    void actDelItemExecute();
    void actModifyItemExecute();
    void lvInfosDblClick();

    // --- test run (Main_quellan_Run.cpp) ---
    void actTestSpendingExecute();
    void ResolveHosts();
    void StartWaitingItems(int count);
    void ItemFinished(TDNSDispInfo* item);
    void tmrFlashTimer();

    // --- sorting (Main_quellan_Sort.cpp) ---
    void lvInfosColumnClick(int column);
    int lvInfosCompare(QTreeWidgetItem* item1, QTreeWidgetItem* item2) const;
    static int CompareTimes(const QString& text1, const QString& text2);

    // --- help (Main_quellan.cpp) ---
    void actHelpExecute();
    void actAboutExecute();
    void lvInfosSelectItem();

protected:
    void showEvent(QShowEvent* event) override;    // FormShow
    void closeEvent(QCloseEvent* event) override;  // FormClose
};

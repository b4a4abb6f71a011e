#include "app/Main_quellan.h"

#include "app/Apperror.h"
#include "app/Images.h"
#include "app/Inforow.h"
#include "app/Runalerts.h"
#include "app/Singleinstance.h"
#include "app/Sortarrows.h"
#include "app/Windowsettings.h"
#include "dialogs/About.h"
#include "dialogs/Help.h"
#include "engine/Itemtexts.h"
#include "history/Historyrecorder.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Storedir.h"

#include "ui_Main_quellan.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QStandardPaths>
#include <QTimer>

#include <utility>

namespace {

constexpr int kColumnWidths[TInfoRow::kColumnCount] = {100, 100, 72, 72, 260};

// The platform's keys where it has them; elsewhere the common key (a desktop
// without a key scheme of its own has none for Save As or Quit).
void SetStandardShortcut(QAction* action, QKeySequence::StandardKey standard, const QKeySequence& common)
{
    const QList<QKeySequence> keys = QKeySequence::keyBindings(standard);
    action->setShortcuts(keys.isEmpty() ? QList<QKeySequence>{common} : keys);
}

THook<TTestRun::TWorkerStarter> WorkerStarterHook;

// The per-user folder of an installed copy, named by the application name
// that start-up sets (app/Startup.h).
std::string UserStoreDir()
{
    return QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).toStdString();
}

}  // namespace

TfrmTarnix::TWorkerStarterScope::TWorkerStarterScope(TTestRun::TWorkerStarter starter)
    : FScope(WorkerStarterHook, std::move(starter))
{
}

TTestRun::TWorkerStarter TfrmTarnix::InstalledWorkerStarter() { return WorkerStarterHook.Get(); }

TfrmTarnix::TfrmTarnix(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TfrmTarnix>()), PopupMenu1(new QMenu(this)),
      tmrFlash(new QTimer(this)), tmrWatch(new QTimer(this)), ilDisplay(CommandIcons()),
      imgUp(QPixmap::fromImage(MakeUpArrowImage())), imgDown(QPixmap::fromImage(MakeDownArrowImage()))
{
    Construct();
}

void TfrmTarnix::Construct()
{
    ui->setupUi(this);
    move(265, 315);  // uic sets only the size of a top-level window
    setWindowIcon(ApplicationIcon());
    SetUpCommands();
    SetUpShortcuts();
    SetUpList();
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->addActions({ui->actAddItem, ui->actDelItem, ui->actModifyItem});
    PopupMenu1->addSeparator();
    PopupMenu1->addActions({ui->actItemDetails, ui->actPathTrace});
    tmrFlash->setObjectName(QStringLiteral("tmrFlash"));
    tmrFlash->setInterval(200);
    connect(tmrFlash, &QTimer::timeout, this, [this] { RunGuarded([this] { tmrFlashTimer(); }); });
    tmrWatch->setObjectName(QStringLiteral("tmrWatch"));
    tmrWatch->setSingleShot(true);
    connect(tmrWatch, &QTimer::timeout, this, [this] { RunGuarded([this] { StartWatchedRun(); }); });

    const std::string storeDir = StoreDir(UserStoreDir());
    FStoreDir = storeDir;
    FIniFile.reset();
    try {
        FIniFile = std::make_unique<TProfileFile>(storeDir + "DestLists.ini");
    } catch (const std::exception&) {
        // Without a settings file every read yields "" and every write is skipped.
    }
    FProjectsFile = storeDir + "Projects.dat";
    FProjects = std::make_unique<TProjectStore>(FProjectsFile);

    ui->actNotify->setChecked(Settings().Notify());
    SetUpAlerts();
    connect(this, &TfrmTarnix::TryMade, this,
            [this](int, const QString& name, qint64 ended, bool ok, qint64 elapsed) {
                RunGuarded([&] { KeepLiveTry(name, ended, ok, elapsed); });
            });
    // What is older than the chart's longest span goes, chart open or not.
    connect(this, &TfrmTarnix::RunEnded, this,
            [this] { RunGuarded([this] { FLiveTries->Prune(TLiveTries::TClock::now()); }); });
    Infos.clear();
    OpenLastProject();
    UpdateActions();
    FListViewTool.Attach(ui->lvInfos, &imgUp, &imgDown);
}

TfrmTarnix::~TfrmTarnix() = default;

void TfrmTarnix::SetUpAlerts()
{
    FAlerts = new TRunAlerts(this);
    FAlerts->setObjectName(QStringLiteral("RunAlerts"));
    FAlerts->SetEnabled(Settings().Notify());
    connect(FAlerts, &TRunAlerts::Activated, this, [this] { RunGuarded([this] { BringToFront(*this); }); });
}

void TfrmTarnix::SetUpCommands()
{
    const std::pair<QAction*, int> images[] = {
        {ui->actNewProject, imgNew},       {ui->actOpenProject, imgOpen},     {ui->actSaveProject, imgSave},
        {ui->actAddItem, imgAddItem},      {ui->actDelItem, imgDelItem},      {ui->actModifyItem, imgModifyItem},
        {ui->actTestSpending, imgTestSpending}, {ui->actStopTest, imgStopTest},
    };
    for (const auto& [action, index] : images)
        action->setIcon(ilDisplay[index]);

    const std::pair<QAction*, void (TfrmTarnix::*)()> handlers[] = {
        {ui->actNewProject, &TfrmTarnix::actNewProjectExecute},
        {ui->actOpenProject, &TfrmTarnix::actOpenProjectExecute},
        {ui->actSaveProject, &TfrmTarnix::actSaveProjectExecute},
        {ui->actSaveAsProject, &TfrmTarnix::actSaveAsProjectExecute},
        {ui->actDelProject, &TfrmTarnix::actDelProjectExecute},
        {ui->actAddItem, &TfrmTarnix::actAddItemExecute},
        {ui->actDelItem, &TfrmTarnix::actDelItemExecute},
        {ui->actModifyItem, &TfrmTarnix::actModifyItemExecute},
        {ui->actTestSpending, &TfrmTarnix::actTestSpendingExecute},
        {ui->actStopTest, &TfrmTarnix::actStopTestExecute},
        {ui->actWatchTest, &TfrmTarnix::actWatchTestExecute},
        {ui->actNotify, &TfrmTarnix::actNotifyExecute},
        {ui->actItemDetails, &TfrmTarnix::actItemDetailsExecute},
        {ui->actPathTrace, &TfrmTarnix::actPathTraceExecute},
        {ui->actHistory, &TfrmTarnix::actHistoryExecute},
        {ui->actLiveChart, &TfrmTarnix::actLiveChartExecute},
        {ui->actExportResults, &TfrmTarnix::actExportResultsExecute},
        {ui->actHelp, &TfrmTarnix::actHelpExecute},
        {ui->actAbout, &TfrmTarnix::actAboutExecute},
        {ui->actExit, &TfrmTarnix::actExitExecute},
    };
    for (const auto& [action, handler] : handlers) {
        connect(action, &QAction::triggered, this, [this, handler = handler] { RunGuarded([&] { (this->*handler)(); }); });
    }
}

// Shortcuts follow their actions: a command disabled during a run does not
// answer its key either.
void TfrmTarnix::SetUpShortcuts()
{
    SetStandardShortcut(ui->actNewProject, QKeySequence::New, QKeySequence(Qt::CTRL | Qt::Key_N));
    SetStandardShortcut(ui->actOpenProject, QKeySequence::Open, QKeySequence(Qt::CTRL | Qt::Key_O));
    SetStandardShortcut(ui->actSaveProject, QKeySequence::Save, QKeySequence(Qt::CTRL | Qt::Key_S));
    SetStandardShortcut(ui->actSaveAsProject, QKeySequence::SaveAs, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    SetStandardShortcut(ui->actDelItem, QKeySequence::Delete, QKeySequence(Qt::Key_Delete));
    SetStandardShortcut(ui->actExit, QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q));
    ui->actAddItem->setShortcut(QKeySequence(Qt::Key_Insert));
    ui->actModifyItem->setShortcut(QKeySequence(Qt::Key_F2));
    ui->actTestSpending->setShortcut(QKeySequence(Qt::Key_F5));
    ui->actStopTest->setShortcut(QKeySequence(Qt::Key_Escape));
}

void TfrmTarnix::SetUpList()
{
    QTreeWidget* list = ui->lvInfos;
    for (int column = 0; column < int(std::size(kColumnWidths)); ++column)
        list->setColumnWidth(column, kColumnWidths[column]);
    list->header()->setSectionsClickable(true);
    list->header()->setSectionsMovable(false);
    TInfoRow::AlignTimeColumn(list->headerItem());

    list->installEventFilter(this);
    FRowsByCaption.Attach(list);
    connect(list, &QTreeWidget::itemDoubleClicked, this, [this] { RunGuarded([this] { lvInfosDblClick(); }); });
    connect(list, &QTreeWidget::itemSelectionChanged, this, [this] { RunGuarded([this] { lvInfosSelectItem(); }); });
    connect(list->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { RunGuarded([this, column] { lvInfosColumnClick(column); }); });
    connect(list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        RunGuarded([this, pos] { PopupMenu1->popup(ui->lvInfos->viewport()->mapToGlobal(pos)); });
    });
}

void TfrmTarnix::UpdateActions()
{
    // Between continuous runs the window stays as during one: only a stop
    // ends the watch.
    const bool idle = !FTesting && !FWatching;
    const bool selected = !ui->lvInfos->selectedItems().isEmpty();
    for (QAction* action : {ui->actNewProject, ui->actOpenProject, ui->actSaveProject, ui->actSaveAsProject,
                            ui->actDelProject, ui->actAddItem, ui->actTestSpending, ui->actWatchTest})
        action->setEnabled(idle);
    ui->actStopTest->setEnabled(!idle);
    ui->actNotify->setEnabled(true);
    ui->actDelItem->setEnabled(idle && selected);
    ui->actModifyItem->setEnabled(idle && selected);
    ui->actItemDetails->setEnabled(idle && HasResults(SingleSelected()));
    ui->actPathTrace->setEnabled(SingleSelected() != nullptr);
    ui->actExportResults->setEnabled(idle && !FItemOutcomes.empty());
    ui->actHistory->setEnabled(true);
    ui->actLiveChart->setEnabled(true);
    ui->actHelp->setEnabled(true);
    ui->actAbout->setEnabled(true);
    ui->actExit->setEnabled(true);
    QCoreApplication::processEvents();
}

void TfrmTarnix::UpdateItemRow(QTreeWidgetItem* row, TDNSDispInfo& item)
{
    const QString caption = FromGbk(item.Name);
    if (!row)
        row = FRowsByCaption.FirstWithCaption(caption);
    if (!row)
        return;
    // A row given with another item's name changes its caption in place.
    if (row->treeWidget() && row->text(TInfoRow::colName) != caption)
        FRowsByCaption.Invalidate();

    if (row->type() == TInfoRow::kType)
        static_cast<TInfoRow*>(row)->SetData(&item);
    TInfoRow::ShowItem(row, item, FTestTimes);
}

void TfrmTarnix::RefreshList()
{
    const QString name = FProjectName.empty() ? QStringLiteral("未命名") : FromGbk(FProjectName);
    setWindowTitle(QString::fromUtf8(kAppTitle) + QStringLiteral(" [当前测速方案--") + name + QStringLiteral("]"));

    QTreeWidget* list = ui->lvInfos;
    list->setUpdatesEnabled(false);
    list->clear();
    QList<QTreeWidgetItem*> rows;
    for (TDNSDispInfo& record : Infos) {
        auto* row = new TInfoRow(this, &record);
        rows.append(row);
        UpdateItemRow(row, record);
    }
    list->addTopLevelItems(rows);
    FitColumns();
    list->setUpdatesEnabled(true);

    ShowInfo(1, QString::number(list->topLevelItemCount()));
    if (std::optional<double> average = OverallAverage(Infos))
        ShowInfo(2, QString::fromStdString(AverageText(*average)));
    ui->pnlFinish->setText(QString());
    ShowLiveItems();
    QCoreApplication::processEvents();
}

// Each column as wide as its widest text, never narrower than designed; the
// last one stretches over the rest of the list's width.
void TfrmTarnix::FitColumns()
{
    QTreeWidget* list = ui->lvInfos;
    for (int column = 0; column < int(std::size(kColumnWidths)); ++column) {
        list->resizeColumnToContents(column);
        if (list->columnWidth(column) < kColumnWidths[column])
            list->setColumnWidth(column, kColumnWidths[column]);
    }
}

// A plan just made or opened shows nothing of the run before.
void TfrmTarnix::ForgetRunStatus()
{
    ui->StatusBar->clearMessage();
    ui->pnlAvgTime->setText(QString());
    FAlerts->Reset();  // another plan's items are not compared with these
    FLiveTries->Clear();
}

void TfrmTarnix::ShowInfo(int index, const QString& text)
{
    switch (index) {
    case 1:
        ui->pnlItemCount->setText(text);
        break;
    case 2:
        ui->pnlAvgTime->setText(text);
        break;
    default:
        ui->StatusBar->showMessage(text);
        break;
    }
}

void TfrmTarnix::PlaceInStatusBar(QWidget* panel)
{
    const int left = panel->x();
    panel->setParent(ui->StatusBar);
    panel->move(left, (ui->StatusBar->height() - panel->height()) / 2);
    panel->show();
    panel->raise();
}

void TfrmTarnix::actHelpExecute()
{
    TfrmHelp dialog(this);
    dialog.exec();
}

void TfrmTarnix::actAboutExecute()
{
    TfrmAbout dialog(this);
    dialog.exec();
}

void TfrmTarnix::lvInfosSelectItem() { UpdateActions(); }

// As the close box: the window asks about unsaved changes first.
void TfrmTarnix::actExitExecute() { close(); }

bool TfrmTarnix::event(QEvent* event)
{
    // The status bar has a single text, the run's progress; hints are tool
    // tips only and must not overwrite it.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

// Enter on a row shows its tries. The list's own activation is not used: a
// double-click activates too, and that modifies the item.
bool TfrmTarnix::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->lvInfos && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            RunGuarded([this] { ui->actItemDetails->trigger(); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmTarnix::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    RunGuarded([this] {
        PlaceInStatusBar(ui->pnlItemCount);
        PlaceInStatusBar(ui->pnlAvgTime);
        PlaceInStatusBar(ui->pnlFinish);
    });
}

void TfrmTarnix::closeEvent(QCloseEvent* event)
{
    // An error while asking keeps the window, and the plan, open.
    bool mayClose = false;
    RunGuarded([&] { mayClose = QuerySave(); });
    event->setAccepted(mayClose);
}

#pragma once
// The history window: the open plan's overall average per recorded run over
// a range of days, the averages of the items picked beside it, and the runs
// in a table that can be exported. A run without any answer is a gap in the
// lines, not a zero.

#include "history/Historydb.h"

#include <QDate>
#include <QDialog>

#include <memory>
#include <set>
#include <string>
#include <vector>

class QChart;
class QChartView;
class QDateEdit;
class QDateTimeAxis;
class QValueAxis;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTableView;
class TRunsModel;

namespace Ui { class TfrmHistory; }

class TfrmHistory : public QDialog {
    Q_OBJECT
public:
    static constexpr int kDefaultDays = 30;

    // path: the History.db to read (never created here); plan: the open
    // plan's name in UTF-8. Shows the last kDefaultDays days.
    TfrmHistory(QWidget* owner, std::string path, std::string plan);
    ~TfrmHistory() override;

    QDateEdit* dtpSince;
    QDateEdit* dtpUntil;
    QPushButton* btnShow;
    QChartView* chartView;
    QListWidget* lbItems;
    QTableView* tvRuns;
    QLabel* lblPlan;
    QLabel* lblStatus;
    QPushButton* btnExport;
    QPushButton* btnClose;

    // Reads and draws the runs started on the days since..until.
    void ShowRange(QDate since, QDate until);
    // The table as exported: a header row, then a row per run.
    QList<QStringList> RunRows() const;
    void btnExportClick();

private:
    bool OpenHistory();
    void FillItems();
    void DrawChart();
    void AddItemLine(const std::string& name);
    void FitValueAxis();
    void lbItemsChanged(QListWidgetItem* entry);

    std::unique_ptr<Ui::TfrmHistory> ui;
    const std::string FPath;
    const std::string FPlan;
    std::unique_ptr<THistoryDb> FDb;
    THistoryDb::time_point FSince, FUntil;
    std::vector<TRunSummary> FRuns;
    std::set<std::string> FPicked;  // UTF-8 item names drawn beside the plan's line
    TRunsModel* FModel;
    QDateTimeAxis* FTimeAxis = nullptr;  // the chart's, which owns them
    QValueAxis* FValueAxis = nullptr;
};

#pragma once
// The history window: the open plan's overall average per recorded run over
// a range of days, the averages of the items picked beside it, and the runs
// in a table that can be exported. A run without any answer is a gap in the
// lines, not a zero; an item that never answered is named so in the legend. The history is read on a thread of its own: the window
// opens at once, and says so while another program holds the file.

#include "history/Historydb.h"
#include "history/Historyreader.h"

#include <QDate>
#include <QDialog>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QDateTimeAxis;
class QValueAxis;
class QListWidgetItem;
class TRunsModel;

namespace Ui { class TfrmHistory; }

class TfrmHistory : public QDialog {
    Q_OBJECT
public:
    static constexpr int kDefaultDays = 30;

    // path: the History.db to read (never created here); plan: the open
    // plan's name in UTF-8. Shows the last kDefaultDays days.
    TfrmHistory(QWidget* owner, std::string path, std::string plan);
    // Waits for the read going on, which ends soon once the file is busy.
    ~TfrmHistory() override;

    static QString BusyText();

    // Asks for the runs started on the days since..until; they are drawn
    // when read.
    void ShowRange(QDate since, QDate until);
    // The table as exported: a header row, then a row per run.
    QList<QStringList> RunRows() const;
    void btnExportClick();

signals:
    // A read has ended on screen: its runs, or why there are none. Not
    // while the history is busy.
    void ReadEnded();

private:
    using TSeries = std::vector<std::pair<THistoryDb::time_point, std::optional<double>>>;
    struct TRangeRead;

    void ReadRange();
    void ShowRead(uint64_t generation, TRangeRead& read);
    void ShowProblem(THistoryReader::TProblem problem, const QString& reason);
    void ShowCount();
    void FillItems(const std::vector<std::string>& names);
    void DrawChart(const std::map<std::string, TSeries>& picked);
    void ReadItemLine(const std::string& name);
    void AddItemLine(const std::string& name, const TSeries& series);
    void FitValueAxis();
    void lbItemsChanged(QListWidgetItem* entry);

    std::unique_ptr<Ui::TfrmHistory> ui;
    const std::string FPath;
    const std::string FPlan;
    THistoryDb::time_point FSince, FUntil;
    std::vector<TRunSummary> FRuns;
    std::set<std::string> FPicked;  // UTF-8 item names drawn beside the plan's line
    std::set<std::string> FDrawn;   // those of them on the chart
    uint64_t FGeneration = 0;       // of the range shown; older reads are dropped
    TRunsModel* FModel;
    QDateTimeAxis* FTimeAxis = nullptr;  // the chart's, which owns them
    QValueAxis* FValueAxis = nullptr;
    std::unique_ptr<THistoryReader> FReader;  // last: it calls into the rest
};

#include "app/Main_quellan.h"

#include "app/Apperror.h"
#include "app/Inforow.h"
#include "dialogs/Csvfile.h"
#include "dialogs/History.h"
#include "dialogs/Itemdetails.h"
#include "dialogs/Livechart.h"
#include "dialogs/Pathtrace.h"
#include "engine/Httpfigures.h"
#include "engine/Itemtexts.h"
#include "engine/Measuredns.h"
#include "history/Historyrecorder.h"
#include "vqlib/Gbk.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Vqwindows.h"

#include "ui_Main_quellan.h"

#include <QTreeWidget>

#include <algorithm>

namespace {

THook<std::optional<std::string>> HistoryFileHook;

QString Utf8Text(const std::string& text) { return QString::fromStdString(text); }

// A home page's address is looked up by the fetch itself, which does not
// say which it used.
QString AddressText(const TDNSDispInfo& item, const TTryOutcomes& outcomes)
{
    const std::string address = MeasuredAddress(item, outcomes);
    if (address.empty() && item.DoType == dtHomePage)
        return QStringLiteral("（取首页时解析，未记录）");
    return FromGbk(address);
}

}  // namespace

TfrmTarnix::THistoryFileScope::THistoryFileScope(std::string path) : FScope(HistoryFileHook, std::move(path)) {}

void TfrmTarnix::ForgetTries()
{
    FItemOutcomes.clear();
    FTryLog.Clear();
}

void TfrmTarnix::ForgetTriesOf(const std::vector<bool>& doomed)
{
    std::vector<TTryOutcomes> kept;
    for (size_t i = 0; i < FItemOutcomes.size(); ++i)
        if (i >= doomed.size() || !doomed[i])
            kept.push_back(std::move(FItemOutcomes[i]));
    FItemOutcomes = std::move(kept);
}

// The run's items stay where they are until the next run; the log's keys
// then no longer say which item is which, their places in Infos do.
void TfrmTarnix::KeepTries()
{
    FItemOutcomes.clear();
    FItemOutcomes.reserve(Infos.size());
    for (const TDNSDispInfo& item : Infos)
        FItemOutcomes.push_back(FTryLog.Outcomes(item));
}

bool TfrmTarnix::HasResults(const TDNSDispInfo* item) const
{
    if (item == nullptr || Infos.empty() || item < Infos.data() || item >= Infos.data() + Infos.size())
        return false;
    const auto index = static_cast<size_t>(item - Infos.data());
    return index < FItemOutcomes.size() && (item->State == tsDone || item->State == tsNoResponse);
}

TDNSDispInfo* TfrmTarnix::SingleSelected() const
{
    const QList<QTreeWidgetItem*> selected = ui->lvInfos->selectedItems();
    return selected.size() == 1 ? TInfoRow::DataOf(selected.first()) : nullptr;
}

std::string TfrmTarnix::HistoryFile() const
{
    if (std::optional<std::string> path = HistoryFileHook.Get())
        return *path;
    return FStoreDir + THistoryDb::kFileName;
}

// The history knows an unnamed plan by the name the title gives it.
std::string TfrmTarnix::PlanNameUtf8() const
{
    return FProjectName.empty() ? std::string("未命名") : GbkToUtf8(FProjectName);
}

// --- details ---

void TfrmTarnix::actItemDetailsExecute()
{
    const TDNSDispInfo* item = SingleSelected();
    if (!HasResults(item))
        return;
    TfrmItemDetails dialog(this);
    const TTryOutcomes& outcomes = FItemOutcomes[static_cast<size_t>(item - Infos.data())];
    const QString queryName = item->DoType == dtDNSQuery ? QString::fromLatin1(DNSQueryHostName) : QString();
    dialog.ShowDetails({FromGbk(item->Name), FromGbk(item->DomainIP), Utf8Text(MethodText(item->DoType)),
                        AddressText(*item, outcomes), outcomes, queryName, item->DoType == dtHomePage,
                        item->DoType == dtHomePage && IsHttpsTarget(item->DomainIP)});
    dialog.exec();
}

// --- path ---

// The address the item was measured at, if a run found one; else its host,
// which the dialog looks up itself.
void TfrmTarnix::actPathTraceExecute()
{
    const TDNSDispInfo* item = SingleSelected();
    if (item == nullptr)
        return;
    std::string host = HasResults(item)
        ? MeasuredAddress(*item, FItemOutcomes[static_cast<size_t>(item - Infos.data())])
        : item->IP;
    if (host.empty())
        host = TraceHost(*item);
    TPathTraceDialog dialog(this, FromGbk(item->Name), host);
    dialog.Start();
    dialog.exec();
}

// --- export ---

namespace {

// The run's state apart from the average, so that the average column holds
// figures only.
QString StateText(const TDNSDispInfo& item)
{
    return item.State == tsDone ? QStringLiteral("已完成") : QString::fromStdString(TimeText(item));
}

// The figures' columns are named as orvel-cli's CSV names them, so that a
// spreadsheet reads both alike.
QStringList FigureColumns(int32_t testTimes)
{
    QStringList names;
    for (int i = 1; i <= testTimes; ++i)
        names << QStringLiteral("try%1_ms").arg(i);
    names << QStringLiteral("fastest_ms") << QStringLiteral("mean_ms") << QStringLiteral("slowest_ms")
          << QStringLiteral("stddev_ms");
    return names;
}

// A failed try, or a figure of no answered try, is an empty field.
QStringList FigureFields(const TTryTimes& tries)
{
    QStringList fields;
    for (const auto& time : tries)
        fields << (time ? TryTimeText(time) : QString());
    const std::optional<TTryFigures> figures = TryFigures(tries);
    for (double TTryFigures::*figure : {&TTryFigures::Fastest, &TTryFigures::Mean, &TTryFigures::Slowest,
                                        &TTryFigures::StdDev})
        fields << (figures ? FigureText((*figures).*figure) : QString());
    return fields;
}

}  // namespace

// The list's columns, its time column as a state and an average; then the
// measured address, the tries and their figures.
QList<QStringList> TfrmTarnix::ResultRows() const
{
    const QTreeWidget& list = *ui->lvInfos;
    QStringList header;
    for (int column = 0; column < list.columnCount(); ++column)
        if (column == TInfoRow::colTime)
            header << QStringLiteral("状态") << QStringLiteral("average_ms");
        else
            header << list.headerItem()->text(column);
    header << QStringLiteral("测得地址") << FigureColumns(FTestTimes);

    // In the list's order, as the user sorted it.
    QList<QStringList> rows{header};
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = list.topLevelItem(i);
        const TDNSDispInfo* item = TInfoRow::DataOf(row);
        QStringList fields;
        for (int column = 0; column < list.columnCount(); ++column)
            if (column == TInfoRow::colTime && item != nullptr)
                fields << StateText(*item)
                       << (item->State == tsDone ? QString::fromStdString(AverageText(item->AvgTime)) : QString());
            else if (column == TInfoRow::colTime)
                fields << row->text(column).trimmed() << QString();
            else
                fields << row->text(column).trimmed();
        TTryTimes tries;
        if (HasResults(item)) {
            const TTryOutcomes& outcomes = FItemOutcomes[static_cast<size_t>(item - Infos.data())];
            fields << FromGbk(MeasuredAddress(*item, outcomes));
            tries = TimesOf(outcomes);
        } else {
            fields << QString();
        }
        tries.resize(size_t(std::max(FTestTimes, 0)));
        rows.append(fields << FigureFields(tries));
    }
    return rows;
}

void TfrmTarnix::actExportResultsExecute()
{
    const QString name = FProjectName.empty() ? QStringLiteral("测速结果") : FromGbk(FProjectName);
    ExportCsv(this, QStringLiteral("导出测速结果"), name + QStringLiteral(".csv"), ResultRows());
}

// --- history ---

void TfrmTarnix::actHistoryExecute()
{
    TfrmHistory dialog(this, HistoryFile(), PlanNameUtf8());
    dialog.exec();
}

// --- the live chart ---

void TfrmTarnix::actLiveChartExecute()
{
    if (FLiveChart == nullptr)
        FLiveChart = new TfrmLiveChart(this, FLiveTries);
    ShowLiveItems();
    FLiveChart->show();
    FLiveChart->raise();
    FLiveChart->activateWindow();
}

void TfrmTarnix::ShowLiveItems()
{
    if (FLiveChart == nullptr)
        return;
    std::vector<std::string> names;
    names.reserve(Infos.size());
    for (const TDNSDispInfo& item : Infos)
        names.push_back(GbkToUtf8(item.Name));
    FLiveChart->SetItems(names, QString::fromStdString(PlanNameUtf8()));
}

void TfrmTarnix::KeepLiveTry(const QString& itemName, qint64 unixMicros, bool ok, qint64 elapsedMicros)
{
    using namespace std::chrono;
    const std::optional<microseconds> time = ok ? std::optional(microseconds(elapsedMicros)) : std::nullopt;
    FLiveTries->Add(itemName.toStdString(), TLiveTries::TClock::time_point(microseconds(unixMicros)), time);
}

// Written on the recorder's thread; the results are on screen already and
// stay whatever becomes of the record.
void TfrmTarnix::RecordRun()
{
    const std::string path = HistoryFile();
    if (path.empty())
        return;
    TRunRecord run;
    run.Started = FRunStarted;
    run.Ended = std::chrono::system_clock::now();
    run.Plan = PlanNameUtf8();
    run.Items.reserve(Infos.size());
    for (size_t i = 0; i < Infos.size(); ++i) {
        const TDNSDispInfo& item = Infos[i];
        const TTryOutcomes outcomes = i < FItemOutcomes.size() ? FItemOutcomes[i] : TTryOutcomes();
        run.Items.push_back({GbkToUtf8(item.Name), GbkToUtf8(item.DomainIP), item.DoType,
                             GbkToUtf8(MeasuredAddress(item, outcomes)), TimesOf(outcomes), outcomes});
    }
    if (!FRecorder)
        FRecorder = std::make_unique<THistoryRecorder>(path);
    // The window outlives its recorder, whose destructor waits for the write;
    // a report still queued when the window goes is dropped with it.
    FRecorder->Record(std::move(run), [this](std::optional<std::string> error) {
        QMetaObject::invokeMethod(
            this, [this, error] { RunGuarded([&] { RunRecorded(error); }); }, Qt::QueuedConnection);
    });
}

void TfrmTarnix::RunRecorded(const std::optional<std::string>& error)
{
    emit HistoryRecorded(!error);
    if (!error || FHistoryFailureShown)
        return;
    FHistoryFailureShown = true;
    InfoBox(QStringLiteral("本次测速的结果未能记入测速历史：\n%1\n\n测速结果照常显示。在程序重新启动之前，不再提示此类错误。")
                .arg(QString::fromStdString(*error)));
}

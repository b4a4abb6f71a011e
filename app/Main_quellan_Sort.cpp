#include "app/Main_quellan.h"

#include "app/Inforow.h"

#include "ui_Main_quellan.h"
#include "vqlib/Gbkwidgets.h"

#include <QLocale>
#include <QTreeWidget>

#include <cmath>
#include <optional>
#include <string_view>

namespace {

constexpr double kNoTime = 999999999.0;

// The cells show GBK texts; they are compared as such, in byte order:
// unsigned bytes, case significant, no locale, a prefix before the longer
// text, which is what std::string_view::compare does.
std::string CellBytes(const QTreeWidgetItem* row, int column)
{
    const QString text = row->text(column);
    if (std::optional<std::string> gbk = ToGbk(text))
        return *gbk;
    return text.toStdString();
}

// The times are formatted with a point; the user's own separator is accepted too.
double TimeValue(const QString& text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok)
        value = QLocale().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return kNoTime;
    return value;
}

}  // namespace

int TfrmTarnix::CompareTimes(const QString& text1, const QString& text2)
{
    const double value1 = TimeValue(text1);
    const double value2 = TimeValue(text2);
    if (value1 > kNoTime - 1.0 && value2 > kNoTime - 1.0) {
        const QByteArray general1 = QString::number(value1, 'g', 15).toLatin1();
        const QByteArray general2 = QString::number(value2, 'g', 15).toLatin1();
        return std::string_view(general1.constData(), general1.size())
            .compare(std::string_view(general2.constData(), general2.size()));
    }
    if (value1 < value2)
        return -1;
    return value1 == value2 ? 0 : 1;
}

// The list's own sort always runs ascending; the direction is applied here
// so that the negation decides the order exactly.
int TfrmTarnix::lvInfosCompare(QTreeWidgetItem* item1, QTreeWidgetItem* item2) const
{
    if (FSortColumn < 0)
        return 0;
    int result = 0;
    if (FSortColumn == TInfoRow::colTime)
        result = CompareTimes(item1->text(TInfoRow::colTime), item2->text(TInfoRow::colTime));
    else
        result = std::string_view(CellBytes(item1, FSortColumn)).compare(CellBytes(item2, FSortColumn));
    return FSortDescending ? -result : result;
}

void TfrmTarnix::lvInfosColumnClick(int column)
{
    if (column < 0 || column >= ui->lvInfos->columnCount())
        return;
    // Only the rows are frozen, so the header repaints just the arrow's sections.
    QWidget* rows = ui->lvInfos->viewport();
    rows->setUpdatesEnabled(false);
    struct TThaw {
        QWidget* Rows;
        ~TThaw() { Rows->setUpdatesEnabled(true); }
    } thaw{rows};

    if (FSortColumn != column) {
        FSortColumn = column;
        FSortDescending = false;
    } else {
        FSortDescending = !FSortDescending;
    }
    FListViewTool.SetSortColumn(FSortColumn, FSortDescending);
    ui->lvInfos->sortItems(FSortColumn, Qt::AscendingOrder);
}

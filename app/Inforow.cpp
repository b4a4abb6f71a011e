#include "app/Inforow.h"

#include "app/Main_quellan.h"
#include "engine/Itemtexts.h"
#include "vqlib/Gbkwidgets.h"

TInfoRow::TInfoRow(const TfrmTarnix* owner, TDNSDispInfo* data)
    : QTreeWidgetItem(kType), FOwner(owner), FData(data)
{
}

TDNSDispInfo* TInfoRow::DataOf(const QTreeWidgetItem* row)
{
    if (!row || row->type() != kType)
        return nullptr;
    return static_cast<const TInfoRow*>(row)->Data();
}

void TInfoRow::ShowItem(QTreeWidgetItem* row, const TDNSDispInfo& item, int32_t testTimes)
{
    row->setText(colName, FromGbk(item.Name));
    row->setText(colDomainIP, FromGbk(item.DomainIP));
    row->setText(colMethod, QString::fromStdString(MethodText(item.DoType)));
    row->setText(colTime, QString::fromStdString(TimeText(item)));
    row->setText(colNote, QString::fromStdString(NoteText(item, testTimes)));
    AlignTimeColumn(row);
}

void TInfoRow::AlignTimeColumn(QTreeWidgetItem* rowOrHeader)
{
    rowOrHeader->setTextAlignment(colTime, Qt::AlignRight | Qt::AlignVCenter);
}

bool TInfoRow::operator<(const QTreeWidgetItem& other) const
{
    // lvInfosCompare takes plain row pointers; it only reads them.
    return FOwner->lvInfosCompare(const_cast<TInfoRow*>(this), const_cast<QTreeWidgetItem*>(&other)) < 0;
}

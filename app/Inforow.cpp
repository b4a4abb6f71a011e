#include "app/Inforow.h"

#include "app/Main_quellan.h"

TInfoRow::TInfoRow(const TfrmTarnix* owner, TDNSDispInfo* data)
    : QTreeWidgetItem(kType), FOwner(owner), FData(data)
{
}

bool TInfoRow::operator<(const QTreeWidgetItem& other) const
{
    // lvInfosCompare takes plain row pointers; it only reads them.
    return FOwner->lvInfosCompare(const_cast<TInfoRow*>(this), const_cast<QTreeWidgetItem*>(&other)) < 0;
}

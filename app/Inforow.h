#pragma once
// A row of the main window's list: it keeps a pointer to the record it shows
// (owned by TfrmTarnix::Infos) and sorts by the window's lvInfosCompare.

#include "engine/Dnsdispinfo.h"

#include <QTreeWidgetItem>

#include <cstdint>

class TfrmTarnix;

class TInfoRow : public QTreeWidgetItem {
public:
    // A row type of its own, so that a row can be told from other items.
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    // The list's columns, left to right.
    enum TColumn : int { colName, colDomainIP, colMethod, colTime, colNote, kColumnCount };

    TInfoRow(const TfrmTarnix* owner, TDNSDispInfo* data);

    TDNSDispInfo* Data() const { return FData; }
    void SetData(TDNSDispInfo* data) { FData = data; }
    // The record a row of the list shows; null for an item of another kind.
    static TDNSDispInfo* DataOf(const QTreeWidgetItem* row);

    // Puts the item's five texts into a row of the list: name, host, method,
    // time, and the note with the failure text out of testTimes tries.
    static void ShowItem(QTreeWidgetItem* row, const TDNSDispInfo& item, int32_t testTimes);
    // The times are right-aligned, header and cells alike: "%7.2f" pads with
    // blanks, which in many fonts are narrower than digits, so only the right
    // edge lines the decimals up.
    static void AlignTimeColumn(QTreeWidgetItem* rowOrHeader);

    // QTreeWidget::sortItems asks this; the order is the window's.
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    const TfrmTarnix* FOwner;
    TDNSDispInfo* FData;
};

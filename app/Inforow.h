#pragma once
// A row of the main window's list: it keeps a pointer to the record it shows
// (owned by TfrmTarnix::Infos) and sorts by the window's lvInfosCompare.

#include "engine/Dnsdispinfo.h"

#include <QTreeWidgetItem>

class TfrmTarnix;

class TInfoRow : public QTreeWidgetItem {
public:
    // A row type of its own, so that a row can be told from other items.
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    TInfoRow(const TfrmTarnix* owner, TDNSDispInfo* data);

    TDNSDispInfo* Data() const { return FData; }
    void SetData(TDNSDispInfo* data) { FData = data; }

    // QTreeWidget::sortItems asks this; the order is the window's.
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    const TfrmTarnix* FOwner;
    TDNSDispInfo* FData;
};

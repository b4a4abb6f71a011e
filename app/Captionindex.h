#pragma once
// Finds the first row of a list whose caption (column 0) is a given text
// without walking the list: a report of a run refreshes its item's row this
// way, and a run of many items reports many times.

#include <QHash>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

class TCaptionIndex {
public:
    // Rows added, removed, moved or sorted make the index stale; it is built
    // again, in one pass, by the next look-up.
    void Attach(QTreeWidget* list);

    // The topmost row with this caption, or null.
    QTreeWidgetItem* FirstWithCaption(const QString& caption);

    // A row's caption was changed in place.
    void Invalidate() { FStale = true; }

private:
    void Rebuild();

    QTreeWidget* FList = nullptr;
    bool FStale = true;
    QHash<QString, QTreeWidgetItem*> FFirst;
};

#include "app/Captionindex.h"

#include <QAbstractItemModel>
#include <QTreeWidget>

void TCaptionIndex::Attach(QTreeWidget* list)
{
    FList = list;
    FStale = true;
    const QAbstractItemModel* model = list->model();
    const auto stale = [this] { FStale = true; };
    QObject::connect(model, &QAbstractItemModel::rowsInserted, list, stale);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, list, stale);
    QObject::connect(model, &QAbstractItemModel::rowsMoved, list, stale);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, list, stale);
    QObject::connect(model, &QAbstractItemModel::modelReset, list, stale);
}

QTreeWidgetItem* TCaptionIndex::FirstWithCaption(const QString& caption)
{
    if (!FList)
        return nullptr;
    if (FStale)
        Rebuild();
    return FFirst.value(caption, nullptr);
}

void TCaptionIndex::Rebuild()
{
    FFirst.clear();
    const int count = FList->topLevelItemCount();
    FFirst.reserve(count);
    for (int i = 0; i < count; ++i) {
        QTreeWidgetItem* row = FList->topLevelItem(i);
        const QString caption = row->text(0);
        if (!FFirst.contains(caption))
            FFirst.insert(caption, row);
    }
    FStale = false;
}

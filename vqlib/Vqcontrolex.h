#pragma once
// Sort arrows painted over a list's header.

class QTreeWidget;
class QPixmap;

namespace vqlib {

class TListViewTool {
public:
    TListViewTool();
    virtual ~TListViewTool();
    void Attach(QTreeWidget* listView, const QPixmap* upImage, const QPixmap* downImage);
    void SetSortColumn(int column, bool descending);

private:
    struct TState;
    TState* FState = nullptr;
};

}  // namespace vqlib

#pragma once
// Sort arrows painted over a list's header.

#include <QColor>

#include <memory>

class QTreeWidget;
class QPixmap;

namespace vqlib {

// Draws an up or down arrow after the caption of one header section of a
// QTreeWidget (before it when the caption keeps to the right edge). The header paints itself first; the arrow goes on top. The
// tree and the pictures are not owned; pixels of the transparent colour are
// left out.
class TListViewTool {
public:
    TListViewTool();
    virtual ~TListViewTool();
    TListViewTool(const TListViewTool&) = delete;
    TListViewTool& operator=(const TListViewTool&) = delete;

    // Attaching again first gives the previous header its own behaviour back.
    // Also hides the header's built-in sort indicator so only our arrow shows.
    void Attach(QTreeWidget* listView, const QPixmap* upImage, const QPixmap* downImage,
                QColor transparentColor = QColor(255, 0, 0));
    void Detach();
    // column -1 removes the arrow. Repaints only the old and the new section.
    void SetSortColumn(int column, bool descending);

    int Column() const;
    bool Pressed() const;  // left button held on the sorted section

private:
    class THeaderFilter;
    std::unique_ptr<THeaderFilter> FFilter;
};

}  // namespace vqlib

#include "vqlib/Vqcontrolex.h"

namespace vqlib {

// TODO: the header painting is not written yet.
struct TListViewTool::TState {};

TListViewTool::TListViewTool() = default;
TListViewTool::~TListViewTool() { delete FState; }
void TListViewTool::Attach(QTreeWidget*, const QPixmap*, const QPixmap*) {}
void TListViewTool::SetSortColumn(int, bool) {}

}  // namespace vqlib

#include "app/Main_quellan.h"

// TODO: sorting is not written yet.
void TfrmTarnix::lvInfosColumnClick(int) {}
int TfrmTarnix::lvInfosCompare(QTreeWidgetItem*, QTreeWidgetItem*) const { return 0; }

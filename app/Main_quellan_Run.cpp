#include "app/Main_quellan.h"

// TODO: the test run is not written yet.
void TfrmTarnix::actTestSpendingExecute() {}
void TfrmTarnix::ResolveHosts() {}
void TfrmTarnix::StartWaitingItems(int) {}
void TfrmTarnix::ItemFinished(TDNSDispInfo*) {}
void TfrmTarnix::tmrFlashTimer() {}

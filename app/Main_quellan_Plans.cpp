#include "app/Main_quellan.h"

// TODO: the plan commands are not written yet.
bool TfrmTarnix::QuerySave() { return true; }
void TfrmTarnix::StoreProject(const std::string&) {}
void TfrmTarnix::actNewProjectExecute() {}
void TfrmTarnix::actOpenProjectExecute() {}
void TfrmTarnix::actSaveProjectExecute() {}
void TfrmTarnix::actSaveAsProjectExecute() {}
void TfrmTarnix::actDelProjectExecute() {}

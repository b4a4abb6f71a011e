#include "app/Main_quellan.h"

// TODO: the item commands are not written yet.
void TfrmTarnix::actAddItemExecute() {}
void TfrmTarnix::actDelItemExecute() {}
void TfrmTarnix::actModifyItemExecute() {}
void TfrmTarnix::lvInfosDblClick() {}

#include "dialogs/Help.h"

TfrmHelp::TfrmHelp(QWidget* owner) : QDialog(owner) {}

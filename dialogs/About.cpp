#include "dialogs/About.h"

TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner) {}

#include "app/Main_quellan.h"

#include "ui_Main_quellan.h"

// TODO: layout, commands and display are not written yet.

TfrmTarnix::TfrmTarnix(QWidget* parent) : QMainWindow(parent), ui(new Ui::TfrmTarnix)
{
    ui->setupUi(this);
}

TfrmTarnix::~TfrmTarnix() { delete ui; }

void TfrmTarnix::UpdateActions() {}
void TfrmTarnix::UpdateItemRow(QTreeWidgetItem*, TDNSDispInfo&) {}
void TfrmTarnix::RefreshList() {}
void TfrmTarnix::ShowInfo(int, const QString&) {}
void TfrmTarnix::PlaceInStatusBar(QWidget*) {}
TDNSDispInfo* TfrmTarnix::RowInfo(QTreeWidgetItem*) { return nullptr; }
void TfrmTarnix::actHelpExecute() {}
void TfrmTarnix::actAboutExecute() {}
void TfrmTarnix::lvInfosSelectItem() {}
void TfrmTarnix::showEvent(QShowEvent* event) { QMainWindow::showEvent(event); }
void TfrmTarnix::closeEvent(QCloseEvent* event) { QMainWindow::closeEvent(event); }

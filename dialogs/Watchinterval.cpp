#include "dialogs/Watchinterval.h"

#include "dialogs/Dialogsetup.h"

#include "ui_Watchinterval.h"

#include <QPushButton>
#include <QSpinBox>

TfrmWatchInterval::TfrmWatchInterval(QWidget* owner)
    : QDialog(owner, kInputDialogFlags), ui(std::make_unique<Ui::TfrmWatchInterval>())
{
    SetUpInputDialog(*this, *ui);
    spnInterval = ui->spnInterval;
    btnConfirm = ui->btnConfirm;
    btnCancel = ui->btnCancel;
    spnInterval->selectAll();
}

TfrmWatchInterval::~TfrmWatchInterval() = default;

void TfrmWatchInterval::SetInterval(int seconds)
{
    spnInterval->setValue(seconds);
    spnInterval->selectAll();
}

int TfrmWatchInterval::Interval() const { return spnInterval->value(); }

void TfrmWatchInterval::btnConfirmClick()
{
    // A half-typed number counts as typed, as Enter in the box does.
    spnInterval->interpretText();
    accept();
}

void TfrmWatchInterval::btnCancelClick() { reject(); }

#include "dialogs/Inputprojectname.h"

#include "dialogs/Dialogsetup.h"
#include "dialogs/Inputcheck.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Vqwindows.h"

#include "ui_Inputprojectname.h"

#include <QLineEdit>
#include <QPushButton>

#include <limits>

TfrmProjectName::TfrmProjectName(QWidget* owner)
    : QDialog(owner, kInputDialogFlags), ui(std::make_unique<Ui::TfrmProjectName>())
{
    SetUpInputDialog(*this, *ui);
    Label1 = ui->Label1;
    edtProjectName = ui->edtProjectName;
    btnConfirm = ui->btnConfirm;
    btnCancel = ui->btnCancel;

    // No length limit, but only what GBK can hold may be typed.
    LimitGbkEdit(edtProjectName, std::numeric_limits<int>::max());
}

TfrmProjectName::~TfrmProjectName() = default;

std::optional<std::string> TfrmProjectName::ProjectNameText() const
{
    return ToGbk(edtProjectName->text());
}

void TfrmProjectName::btnConfirmClick()
{
    const auto text = ProjectNameText();
    if (!text || HasReservedChar(TrimBlanks(*text))) {
        InfoBox(QStringLiteral("测速方案名称不能含有=#^和回车字符。"));
        edtProjectName->setFocus();
        return;
    }
    FConfirmed = true;
    accept();
}

void TfrmProjectName::btnCancelClick() { reject(); }

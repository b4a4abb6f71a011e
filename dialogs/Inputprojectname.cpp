#include "dialogs/Inputprojectname.h"

#include "dialogs/Buttonkeys.h"
#include "dialogs/Inputcheck.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Vqwindows.h"

#include "ui_Inputprojectname.h"

#include <QLineEdit>
#include <QPushButton>

#include <limits>

TfrmProjectName::TfrmProjectName(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                         | Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint),
      ui(new Ui::TfrmProjectName)
{
    ui->setupUi(this);
    setFixedSize(size());
    Label1 = ui->Label1;
    edtProjectName = ui->edtProjectName;
    btnConfirm = ui->btnConfirm;
    btnCancel = ui->btnCancel;

    // No length limit, but only what GBK can hold may be typed.
    LimitGbkEdit(edtProjectName, std::numeric_limits<int>::max());

    LetEnterClickWhenFocused(btnConfirm);
    LetEnterClickWhenFocused(btnCancel);
    connect(btnConfirm, &QPushButton::clicked, this, [this] { btnConfirmClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

TfrmProjectName::~TfrmProjectName() { delete ui; }

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

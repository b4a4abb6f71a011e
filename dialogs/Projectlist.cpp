#include "dialogs/Projectlist.h"

#include "dialogs/Dialogsetup.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Vqwindows.h"

#include "ui_Projectlist.h"

#include <QByteArray>
#include <QEvent>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

namespace {

// The designed entry height, unless the font needs more: the fallback for
// 宋体 reaches further below the line, and g, y, p, j, q would lose their tails.
constexpr int kMinItemHeight = 12;
// The name's own bytes, so that a name that is not valid GBK is found again.
constexpr int kNameRole = Qt::UserRole;

}  // namespace

TfrmProjectList::TfrmProjectList(QWidget* owner)
    : QDialog(owner, kInputDialogFlags), ui(std::make_unique<Ui::TfrmProjectList>())
{
    SetUpInputDialog(*this, *ui);
    Label1 = ui->Label1;
    lbProjectList = ui->lbProjectList;
    btnConfirm = ui->btnConfirm;
    btnCancel = ui->btnCancel;

    // A double-click anywhere in the box counts, also below the last entry.
    lbProjectList->viewport()->installEventFilter(this);
}

TfrmProjectList::~TfrmProjectList() = default;

void TfrmProjectList::SetProjects(const std::vector<std::string>& names)
{
    lbProjectList->clear();
    for (const std::string& name : names) {
        auto* entry = new QListWidgetItem(FromGbk(name), lbProjectList);
        entry->setData(kNameRole, QByteArray::fromStdString(name));
        entry->setSizeHint(QSize(0, std::max(kMinItemHeight, lbProjectList->fontMetrics().height())));
    }
    lbProjectList->clearSelection();
}

std::optional<std::string> TfrmProjectList::SelectedProject() const
{
    const auto selected = lbProjectList->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.first()->data(kNameRole).toByteArray().toStdString();
}

bool TfrmProjectList::HasSelection() const { return !lbProjectList->selectedItems().isEmpty(); }

void TfrmProjectList::btnConfirmClick()
{
    if (!HasSelection()) {
        InfoBox(QStringLiteral("请先选择一个测速方案。"));
        lbProjectList->setFocus();
        return;
    }
    FConfirmed = true;
    accept();
}

void TfrmProjectList::btnCancelClick() { reject(); }

void TfrmProjectList::lbProjectListDblClick()
{
    if (!HasSelection())
        return;
    FConfirmed = true;
    accept();
}

bool TfrmProjectList::eventFilter(QObject* watched, QEvent* event)
{
    // Asked once the list has handled the click, which may select the entry.
    if (watched == lbProjectList->viewport() && event->type() == QEvent::MouseButtonDblClick)
        QMetaObject::invokeMethod(this, [this] { lbProjectListDblClick(); }, Qt::QueuedConnection);
    return QDialog::eventFilter(watched, event);
}

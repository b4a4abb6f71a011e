#include "app/Main_quellan.h"

#include "app/Inforow.h"
#include "dialogs/Edititem.h"
#include "vqlib/Vqwindows.h"

#include "ui_Main_quellan.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidget>

#include <cstddef>
#include <optional>

namespace {

const QString kMultipleValues = QStringLiteral("*多项值*");

// The place in Infos of the record a row shows.
std::optional<size_t> InfoIndex(const TDNSDispInfos& infos, QTreeWidgetItem* row)
{
    const TDNSDispInfo* info = TInfoRow::DataOf(row);
    if (info == nullptr || infos.empty() || info < infos.data() || info >= infos.data() + infos.size())
        return std::nullopt;
    return static_cast<size_t>(info - infos.data());
}

}  // namespace

void TfrmTarnix::actAddItemExecute()
{
    TfrmEditItem dialog(this);
    for (const TDNSDispInfo& info : Infos)
        dialog.FItemNames.push_back(info.Name);
    dialog.setWindowTitle(QStringLiteral("增加测速项"));
    dialog.exec();
    if (!dialog.FConfirmed)
        return;

    TDNSDispInfo item;
    item.Name = dialog.FieldText(dialog.edtName).value_or(std::string());
    item.DomainIP = dialog.FieldText(dialog.edtDomainIP).value_or(std::string());
    item.DoType = static_cast<int8_t>(dialog.cbDoType->currentIndex());
    item.State = tsWaiting;
    Infos.push_back(std::move(item));
    RefreshList();
}

void TfrmTarnix::actDelItemExecute()
{
    QTreeWidget* list = ui->lvInfos;
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    if (!ConfirmBox(QStringLiteral("你确定要删除这%1条测速项吗?").arg(selected.size()), 0, MB_ICONQUESTION))
        return;

    std::vector<bool> doomed(Infos.size(), false);
    for (QTreeWidgetItem* row : selected)
        if (const auto index = InfoIndex(Infos, row))
            doomed[*index] = true;

    // Where each remaining record will stand once the others are gone.
    std::vector<size_t> newIndex(Infos.size());
    for (size_t i = 0, next = 0; i < Infos.size(); ++i)
        if (!doomed[i])
            newIndex[i] = next++;

    // A row goes with its record even if it was not selected itself, so
    // that no row is left pointing at a removed record. Leaving rows are
    // taken as runs of neighbours, each run at once.
    std::vector<std::pair<int, int>> leaving;  // first row, count
    std::vector<std::pair<TInfoRow*, size_t>> staying;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = list->topLevelItem(i);
        const auto index = InfoIndex(Infos, row);
        if (row->isSelected() || (index && doomed[*index])) {
            if (!leaving.empty() && leaving.back().first + leaving.back().second == i)
                ++leaving.back().second;
            else
                leaving.emplace_back(i, 1);
        } else if (index) {
            staying.emplace_back(static_cast<TInfoRow*>(row), newIndex[*index]);
        }
    }

    // The rows go first, while every row still points at a live record;
    // from the bottom, so that the places of the runs above hold.
    for (auto run = leaving.rbegin(); run != leaving.rend(); ++run)
        list->model()->removeRows(run->first, run->second);
    size_t kept = 0;
    for (size_t i = 0; i < Infos.size(); ++i) {
        if (doomed[i])
            continue;
        if (kept != i)
            Infos[kept] = std::move(Infos[i]);
        ++kept;
    }
    Infos.resize(kept);
    ForgetTriesOf(doomed);
    for (auto& [row, index] : staying)
        row->SetData(&Infos[index]);

    ShowInfo(1, QString::number(list->topLevelItemCount()));
}

void TfrmTarnix::actModifyItemExecute()
{
    const QList<QTreeWidgetItem*> selected = ui->lvInfos->selectedItems();
    if (selected.isEmpty())
        return;

    TDNSDispInfo* single = selected.size() == 1 ? TInfoRow::DataOf(selected.first()) : nullptr;
    if (selected.size() == 1 && single == nullptr)
        return;
    TfrmEditItem dialog(this);
    if (single != nullptr) {
        dialog.setWindowTitle(QStringLiteral("修改测速项(单条修改)"));
        dialog.SetFieldText(dialog.edtName, single->Name);
        dialog.SetFieldText(dialog.edtDomainIP, single->DomainIP);
        dialog.cbDoType->setCurrentIndex(single->DoType);
    } else {
        dialog.setWindowTitle(QStringLiteral("修改测速项(多条修改)"));
        dialog.edtName->setText(kMultipleValues);
        dialog.edtDomainIP->setText(kMultipleValues);
        dialog.edtName->setEnabled(false);
        dialog.edtDomainIP->setEnabled(false);
        dialog.cbDoType->setCurrentIndex(-1);
    }
    dialog.exec();
    if (!dialog.FConfirmed)
        return;

    const int doType = dialog.cbDoType->currentIndex();
    if (single != nullptr) {
        single->Name = dialog.FieldText(dialog.edtName).value_or(single->Name);
        single->DomainIP = dialog.FieldText(dialog.edtDomainIP).value_or(single->DomainIP);
        single->DoType = static_cast<int8_t>(doType);
    } else if (doType >= 0) {
        for (QTreeWidgetItem* row : selected)
            if (TDNSDispInfo* info = TInfoRow::DataOf(row))
                info->DoType = static_cast<int8_t>(doType);
    }
    RefreshList();
}

void TfrmTarnix::lvInfosDblClick() { ui->actModifyItem->trigger(); }

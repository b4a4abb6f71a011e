#include "app/Main_quellan.h"

#include "dialogs/Inputcheck.h"
#include "dialogs/Inputprojectname.h"
#include "dialogs/Projectlist.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Vqwindows.h"

#include "ui_Main_quellan.h"

bool TfrmTarnix::PlanChanged()
{
    if (FProjectName.empty())
        return !Infos.empty();
    try {
        return ItemsToText() != GetProjectText(FProjectName);
    } catch (const EFileError&) {
        // A store that cannot be read cannot vouch for the items either.
        return true;
    }
}

bool TfrmTarnix::QuerySave()
{
    if (!PlanChanged())
        return true;
    const int answer = MsgBox(QStringLiteral("测速方案有改动，要保存吗?\n点\"是\"保存，点\"否\"不保存"),
                              MB_ICONQUESTION, MB_YESNOCANCEL, 0);
    if (answer == IDYES) {
        ui->actSaveProject->trigger();
        // The user asked to keep the items: go on only if they are stored now.
        // A cancelled or empty name, a store that could not be written and a
        // save disabled during a run all leave them unsaved.
        return !PlanChanged();
    }
    return answer == IDNO;
}

void TfrmTarnix::StoreProject(const std::string& name)
{
    SetProjectText(name, ItemsToText());
    LoadProject(name);
}

void TfrmTarnix::actNewProjectExecute()
{
    if (!QuerySave())
        return;
    FProjectName.clear();
    Infos.clear();
    ForgetTries();
    RefreshList();
    ForgetRunStatus();
}

void TfrmTarnix::actOpenProjectExecute()
{
    if (!QuerySave())
        return;
    TfrmProjectList dialog(this);
    std::vector<std::string> names;
    ListProjects(names);
    dialog.SetProjects(names);
    dialog.exec();
    const auto name = dialog.SelectedProject();
    if (!dialog.FConfirmed || !name)
        return;
    // Cleared once the plan is shown: a store that cannot be read leaves the
    // open plan, and what its run showed, as they were.
    ShowProject(*name);
    ForgetRunStatus();
    RememberProject();
}

void TfrmTarnix::actSaveProjectExecute()
{
    if (!FProjectName.empty())
        StoreProject(FProjectName);
    else
        ui->actSaveAsProject->trigger();
}

void TfrmTarnix::actSaveAsProjectExecute()
{
    TfrmProjectName dialog(this);
    dialog.exec();
    if (!dialog.FConfirmed)
        return;
    const auto text = dialog.ProjectNameText();
    const std::string name = text ? TrimBlanks(*text) : std::string();
    if (!name.empty())
        StoreProject(name);
}

void TfrmTarnix::actDelProjectExecute()
{
    TfrmProjectList dialog(this);
    dialog.setWindowTitle(QStringLiteral("删除测速方案"));
    std::vector<std::string> names;
    ListProjects(names);
    dialog.SetProjects(names);
    dialog.exec();
    const auto name = dialog.SelectedProject();
    if (!dialog.FConfirmed || !name)
        return;
    if (!ConfirmBox(QStringLiteral("你确定要删除测速方案[") + FromGbk(*name) + QStringLiteral("]吗?"), 0,
                    MB_ICONQUESTION))
        return;
    RemoveProject(*name);
    if (*name == FProjectName) {
        FProjectName.clear();
        Infos.clear();
        ForgetTries();
        RefreshList();
        ForgetRunStatus();
    }
}

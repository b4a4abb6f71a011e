#pragma once
// The dialog in which the user picks one saved plan, to open or to delete it.

#include <QDialog>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace Ui { class TfrmProjectList; }

class TfrmProjectList : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProjectList(QWidget* owner);
    ~TfrmProjectList() override;

    bool FConfirmed = false;

    QLabel* Label1;
    QListWidget* lbProjectList;
    QPushButton* btnConfirm;
    QPushButton* btnCancel;

    // Empties the list and fills it with these GBK names, in their order,
    // none selected.
    void SetProjects(const std::vector<std::string>& names);
    // The GBK name of the selected entry, exactly as it was given.
    std::optional<std::string> SelectedProject() const;

    void btnConfirmClick();
    void btnCancelClick();
    void lbProjectListDblClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool HasSelection() const;

    std::unique_ptr<Ui::TfrmProjectList> ui;
};

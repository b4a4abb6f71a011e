#pragma once
// The dialog that asks for the name under which the open plan is saved.

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace Ui { class TfrmProjectName; }

class TfrmProjectName : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProjectName(QWidget* owner);
    ~TfrmProjectName() override;

    bool FConfirmed = false;

    QLabel* Label1;
    QLineEdit* edtProjectName;
    QPushButton* btnConfirm;
    QPushButton* btnCancel;

    // The typed name as GBK, untrimmed; nullopt when GBK cannot hold it.
    std::optional<std::string> ProjectNameText() const;

    void btnConfirmClick();
    void btnCancelClick();

private:
    std::unique_ptr<Ui::TfrmProjectName> ui;
};

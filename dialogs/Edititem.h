#pragma once
// The dialog in which one test item is entered or changed. The caller fills
// it, shows it modally and reads the fields back when FConfirmed is set.

#include <QDialog>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Ui { class TfrmEditItem; }

class TfrmEditItem : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEditItem(QWidget* owner);
    ~TfrmEditItem() override;

    std::vector<std::string> FItemNames;  // GBK; a new name must equal none of them
    bool FConfirmed = false;

    // Controls by their designed names.
    QLabel* Label1;
    QLineEdit* edtName;
    QLabel* Label2;
    QLineEdit* edtDomainIP;
    QLabel* lblHint;
    QLabel* Label3;
    QComboBox* cbDoType;
    QPushButton* btnConfirm;
    QPushButton* btnCancel;

    // Shows stored GBK bytes in one of the two edits. While the text stays as
    // shown, FieldText hands back these very bytes, so a stored text that is
    // not valid GBK survives a modify untouched.
    void SetFieldText(QLineEdit* edit, const std::string& gbk);
    // The edit's text as GBK; nullopt when it holds a character GBK cannot.
    std::optional<std::string> FieldText(const QLineEdit* edit) const;

    void btnConfirmClick();
    void btnCancelClick();
    void edtDomainIPChange();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;  // the hint follows edtDomainIP's enabling

private:
    std::unique_ptr<Ui::TfrmEditItem> ui;
    std::string FNameShown;
    std::string FDomainIPShown;
};

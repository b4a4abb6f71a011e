#pragma once
// The dialog that asks how many seconds apart continuous runs start.

#include <QDialog>

#include <memory>

class QPushButton;
class QSpinBox;

namespace Ui { class TfrmWatchInterval; }

class TfrmWatchInterval : public QDialog {
    Q_OBJECT
public:
    explicit TfrmWatchInterval(QWidget* owner);
    ~TfrmWatchInterval() override;

    QSpinBox* spnInterval;  // 5..3600 s
    QPushButton* btnConfirm;
    QPushButton* btnCancel;

    // Shown first; clamped to the box's bounds.
    void SetInterval(int seconds);
    int Interval() const;

    void btnConfirmClick();
    void btnCancelClick();

private:
    std::unique_ptr<Ui::TfrmWatchInterval> ui;
};

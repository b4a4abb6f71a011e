#pragma once

#include <QDialog>

// TODO: the dialog's content is not written yet.
class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* owner);
};

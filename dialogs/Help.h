#pragma once

#include <QDialog>

// TODO: the dialog's content is not written yet.
class TfrmHelp : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHelp(QWidget* owner);
};

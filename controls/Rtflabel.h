#pragma once

#include <QWidget>

// TODO: a label that paints RTF text; not written yet.
class TRTFLabel : public QWidget {
    Q_OBJECT
public:
    explicit TRTFLabel(QWidget* parent = nullptr) : QWidget(parent) {}
};

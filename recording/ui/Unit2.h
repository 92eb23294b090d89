// The recording window: choose the source and the volume, record into a WAV file, hand it to the editor.
#pragma once

#include <QDialog>

class TFenr : public QDialog
{
public:
    explicit TFenr(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

// The MP3 save dialog: output file, bit rate and quality of the MP3 export.
#pragma once

#include <QDialog>

class TFmp3 : public QDialog
{
public:
    explicit TFmp3(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

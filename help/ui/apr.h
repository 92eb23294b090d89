// The troubleshooting box, reached from the help window: a short advice and an "OK" button.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QToolButton;

class TAP : public QDialog
{
public:
    explicit TAP(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Label5;
    QLabel* Label6;
    QFrame* Bevel1;
    QToolButton* SpeedButton1; // "OK"

    void SpeedButton1Click();

protected:
    void showEvent(QShowEvent* event) override;
};

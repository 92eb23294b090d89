// The troubleshooting box, reached from the help window.
#pragma once

#include <QDialog>

class TAP : public QDialog
{
public:
    explicit TAP(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

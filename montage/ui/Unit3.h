// The clip-title dialog: names a new extract or renames one.
#pragma once

#include <QDialog>

class TFedit : public QDialog
{
public:
    explicit TFedit(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

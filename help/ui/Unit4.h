// The help window: the local help pages in a browser with a small toolbar.
#pragma once

#include <QDialog>

class TFaide : public QDialog
{
public:
    explicit TFaide(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

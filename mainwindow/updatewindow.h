#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class UpdateWindow;
}

// The small "Was ist neu in dieser Version?" window. Nothing opens it yet.
class UpdateWindow : public QDialog
{
    Q_OBJECT

public:
    explicit UpdateWindow(QWidget *parent = nullptr);
    ~UpdateWindow() override;

private:
    std::unique_ptr<Ui::UpdateWindow> ui;
};

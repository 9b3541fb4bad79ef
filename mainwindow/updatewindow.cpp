#include "mainwindow/updatewindow.h"

#include "ui_updatewindow.h"

UpdateWindow::UpdateWindow(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::UpdateWindow>())
{
    ui->setupUi(this);
}

UpdateWindow::~UpdateWindow() = default;

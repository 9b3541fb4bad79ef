#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class About;
}

// The program's information window: logo, name and version, the Qt version it runs on, the
// maker and links to the web site, the privacy statement and the online help. The addresses
// come from the configured server address; without one the link texts are shown
// without links.
class About : public QDialog
{
    Q_OBJECT

public:
    explicit About(QWidget *parent = nullptr);
    ~About() override;

private:
    std::unique_ptr<Ui::About> ui;
};

#pragma once
#include <QDialog>

// The main dialog. (The form and its slots come next.)
class Vantrix : public QDialog
{
    Q_OBJECT
public:
    explicit Vantrix(QWidget *parent = nullptr);
};

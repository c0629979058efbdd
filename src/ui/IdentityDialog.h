#pragma once
// The client's identity asked once, on a start without a client code: the
// code and name the supplier gave, the connection password and the main
// server address. Every field may stay empty.

#include <QDialog>

#include "core/Settings.h"

class QLineEdit;

class TdlgIdentity : public QDialog {
    Q_OBJECT
public:
    explicit TdlgIdentity(QWidget *parent = nullptr);
    ClientIdentity identity() const;

private:
    QLineEdit *m_code;
    QLineEdit *m_name;
    QLineEdit *m_pass;
    QLineEdit *m_address;
};

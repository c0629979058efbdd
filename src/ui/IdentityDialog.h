#pragma once
// The client's identity, asked on a start while the client code, the name or
// the main server address is missing: the code and name the supplier gave,
// the connection password and the main server address. What is known already
// is filled in. Every field may stay empty.

#include <QDialog>

#include "core/Settings.h"

class QLineEdit;

class TdlgIdentity : public QDialog {
    Q_OBJECT
public:
    explicit TdlgIdentity(QWidget *parent = nullptr);
    void setIdentity(const ClientIdentity &id);
    ClientIdentity identity() const;

private:
    QLineEdit *m_code;
    QLineEdit *m_name;
    QLineEdit *m_pass;
    QLineEdit *m_address;
};

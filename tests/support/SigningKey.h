#pragma once
// A supplier's Ed25519 key pair made for one test, to sign program updates as
// the supplier does (OpenSSL, the same library the program checks with).

#include <QByteArray>
#include <QString>

namespace pc::test {

class SigningKey {
public:
    SigningKey();
    ~SigningKey();
    SigningKey(const SigningKey &) = delete;
    SigningKey &operator=(const SigningKey &) = delete;

    // The public half in PEM, as the program keeps it beside itself.
    QByteArray publicPem() const;
    // The 64-byte detached signature of data.
    QByteArray sign(const QByteArray &data) const;
    // Writes the public half as the program folder's supplier.pub.
    void installIn(const QString &appDir) const;
    // Writes the signature of `file` to `signatureFile`.
    void signFile(const QString &file, const QString &signatureFile) const;

private:
    void *m_key = nullptr; // EVP_PKEY
};

} // namespace pc::test

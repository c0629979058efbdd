#include "SigningKey.h"

#include <QFile>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <stdexcept>

namespace pc::test {

namespace {
EVP_PKEY *pkey(void *key) { return static_cast<EVP_PKEY *>(key); }

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}
} // namespace

SigningKey::SigningKey() : m_key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"))
{
    if (!m_key)
        throw std::runtime_error("Ed25519 key generation failed");
}

SigningKey::~SigningKey() { EVP_PKEY_free(pkey(m_key)); }

QByteArray SigningKey::publicPem() const
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, pkey(m_key));
    char *data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    QByteArray pem(data, int(n));
    BIO_free(bio);
    return pem;
}

QByteArray SigningKey::sign(const QByteArray &data) const
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    QByteArray signature(64, '\0');
    size_t length = size_t(signature.size());
    const bool ok = EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, pkey(m_key)) == 1
                    && EVP_DigestSign(ctx, reinterpret_cast<unsigned char *>(signature.data()), &length,
                                      reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()))
                           == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok || length != 64)
        throw std::runtime_error("Ed25519 signing failed");
    return signature;
}

void SigningKey::installIn(const QString &appDir) const { writeFile(appDir + "supplier.pub", publicPem()); }

void SigningKey::signFile(const QString &file, const QString &signatureFile) const
{
    writeFile(signatureFile, sign(readFile(file)));
}

} // namespace pc::test

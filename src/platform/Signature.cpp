#include "platform/Signature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace pc {

namespace {

constexpr qsizetype kSignatureBytes = 64;
// A program update is read whole to be checked; nothing of this size is one.
constexpr qint64 kMaxSignedBytes = qint64(1) << 30;

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct BioFree {
    void operator()(BIO *b) const { BIO_free(b); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};

// The raw signature: 64 bytes as they are, or their base64 text.
QByteArray rawSignature(const QByteArray &bytes)
{
    if (bytes.size() == kSignatureBytes)
        return bytes;
    const auto decoded = QByteArray::fromBase64Encoding(bytes.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (decoded && decoded.decoded.size() == kSignatureBytes)
        return decoded.decoded;
    return {};
}

} // namespace

QString signatureProblem(const QByteArray &data, const QByteArray &signature, const QByteArray &publicKeyPem)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(publicKeyPem.constData(), int(publicKeyPem.size())));
    std::unique_ptr<EVP_PKEY, PkeyFree> key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519)
        return QStringLiteral("файл открытого ключа поставщика не содержит ключа Ed25519");
    const QByteArray raw = rawSignature(signature);
    if (raw.isEmpty())
        return QStringLiteral("файл подписи повреждён");
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return QStringLiteral("проверка подписи не удалась");
    const int verified = EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char *>(raw.constData()),
                                          size_t(raw.size()), reinterpret_cast<const unsigned char *>(data.constData()),
                                          size_t(data.size()));
    if (verified != 1)
        return QStringLiteral("подпись не подтверждена");
    return QString();
}

QString fileSignatureProblem(const QString &file, const QString &signatureFile, const QString &publicKeyFile)
{
    QFile key(publicKeyFile);
    if (!key.open(QIODevice::ReadOnly))
        return QStringLiteral("нет открытого ключа поставщика %1").arg(QDir::toNativeSeparators(publicKeyFile));
    QFile sig(signatureFile);
    if (!sig.open(QIODevice::ReadOnly))
        return QStringLiteral("нет подписи %1").arg(QFileInfo(signatureFile).fileName());
    QFile signedFile(file);
    if (!signedFile.open(QIODevice::ReadOnly))
        return QStringLiteral("файл %1 не читается").arg(QDir::toNativeSeparators(file));
    if (signedFile.size() > kMaxSignedBytes)
        return QStringLiteral("файл %1 слишком велик").arg(QDir::toNativeSeparators(file));
    const QByteArray data = signedFile.readAll();
    if (data.size() != signedFile.size())
        return QStringLiteral("файл %1 не читается").arg(QDir::toNativeSeparators(file));
    return signatureProblem(data, sig.read(4096), key.read(64 * 1024));
}

} // namespace pc

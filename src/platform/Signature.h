#pragma once
// The supplier's signature on a program update: a detached Ed25519 signature
// (the 64 bytes `openssl pkeyutl -sign -rawin` writes, or the same in base64)
// checked against the supplier's public key kept beside the program (PEM, as
// `openssl pkey -pubout` writes it). The checking is OpenSSL's.

#include <QByteArray>
#include <QString>

namespace pc {

// Empty when `signature` is the key's signature of `data`; otherwise why not,
// in words for the pharmacist.
QString signatureProblem(const QByteArray &data, const QByteArray &signature, const QByteArray &publicKeyPem);

// The same for files: the signed file, its signature file and the key file.
// A missing or unreadable file is a problem like a wrong signature.
QString fileSignatureProblem(const QString &file, const QString &signatureFile, const QString &publicKeyFile);

} // namespace pc

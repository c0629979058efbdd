#include "TempAppDir.h"

#include "platform/CodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TempAppDir::TempAppDir()
{
    QDir d(m_dir.path());
    d.mkpath(QStringLiteral("Data"));
    d.mkpath(QStringLiteral("Orders"));
    d.mkpath(QStringLiteral("Update"));
}

void TempAppDir::writeBytes(const QString &relative, const QByteArray &bytes) const
{
    const QString name = file(relative);
    QDir().mkpath(QFileInfo(name).absolutePath());
    QFile f(name);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

void TempAppDir::writeText(const QString &relative, const QString &text) const
{
    QString t = text;
    t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    writeBytes(relative, pc::toCp1251(t));
}

QByteArray TempAppDir::readBytes(const QString &relative) const
{
    QFile f(file(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString TempAppDir::readText(const QString &relative) const
{
    return pc::fromCp1251(readBytes(relative)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

bool TempAppDir::exists(const QString &relative) const
{
    return QFileInfo::exists(file(relative));
}

#pragma once

#include <QByteArray>
#include <QString>

// A light scrambler for secrets kept in files (the MySQL password of "mysql.setup"):
// 64-bit key, compression when it pays, an integrity check, and a random byte so that
// two results for one text differ. Not a cipher against a determined attacker.
class SimpleCrypt
{
public:
    explicit SimpleCrypt(unsigned long long key);

    // Base64 text.
    QString encryptToString(const QString &plain);
    // The plain text; the empty text for empty, damaged or foreign input.
    QString decryptToString(const QString &scrambled);

private:
    unsigned long long m_key;
};

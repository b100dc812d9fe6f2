#pragma once
// Readable failure messages for Qt texts in this folder's tests.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']';
}
inline void PrintTo(const QByteArray& b, std::ostream* os)
{
    *os << b.size() << " bytes: " << b.left(200).toPercentEncoding(" |^&%#./").toStdString();
}

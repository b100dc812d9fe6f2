#pragma once
// The baseline of the PostgreSQL store's benchmarks: an imported row inserted through libpq
// alone, one INSERT a transaction (the server's synchronous commit), no archive, no function of
// ours. The fields' checks are the table's, so it pays them as a message's row does.
#include "bench/support/Messages.h"
#include "store/ResultTable.h"

#include <QStringList>

#include <libpq-fe.h>

#include <vector>

namespace benchsupport {

class BareInserts {
public:
    explicit BareInserts(const QString& uri) : conn_(PQconnectdb(uri.toUtf8().constData()))
    {
        QStringList placeholders;
        for (int i = 1; i <= 22; ++i)
            placeholders << QStringLiteral("$%1").arg(i);
        sql_ = QStringLiteral("INSERT INTO results (dat, tim, num, %1, identity_key) VALUES ($1::date, %2)")
                   .arg(resulttable::valueFields().join(QLatin1Char(',')).toLower(), placeholders.mid(1).join(QLatin1Char(',')))
                   .toUtf8();
    }
    ~BareInserts() { PQfinish(conn_); }
    BareInserts(const BareInserts&) = delete;
    BareInserts& operator=(const BareInserts&) = delete;

    bool connected() const { return PQstatus(conn_) == CONNECTION_OK; }

    // resultRow(prefix, n) with a key of its own; true when the server took it.
    bool insert(QChar prefix, int n)
    {
        const ImportedRow r = resultRow(prefix, n);
        std::vector<QByteArray> texts = {QByteArray("2026-12-07"), r.time.toUtf8(), r.num.toUtf8()};
        for (const QString& v : r.values)
            texts.push_back(v.toUtf8());
        texts.push_back(QByteArray::number(n).toHex());
        std::vector<const char*> params;
        for (const QByteArray& t : texts)
            params.push_back(t.constData());
        PGresult* res = PQexecParams(conn_, sql_.constData(), int(params.size()), nullptr, params.data(), nullptr, nullptr, 0);
        const bool took = PQresultStatus(res) == PGRES_COMMAND_OK;
        PQclear(res);
        return took;
    }

private:
    PGconn* conn_;
    QByteArray sql_;
};

} // namespace benchsupport

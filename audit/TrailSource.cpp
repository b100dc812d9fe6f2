#include "audit/TrailSource.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace audit {

namespace {

// ---------------------------------------------------------------------------------------------
// A program folder's trail: the day files and the dBase table.

QStringList filesSince(const QString& folder, const QString& name, const QDate& since)
{
    QStringList out;
    for (const QString& f : Chain::files(folder, name))
        if (!since.isValid() || Chain::dayOf(QFileInfo(f).fileName(), name) >= since)
            out << f;
    return out;
}

qint64 sizeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? qint64(st.st_size) : 0;
}

// What changes when anyone writes the trail or the table.
QByteArray filesFingerprint(const QString& folder, const QString& table)
{
    QByteArray out;
    QStringList all = Chain::files(folder, QStringLiteral("messages")) + Chain::files(folder, QStringLiteral("history"));
    all << table;
    for (const QString& f : all) {
        struct stat st {};
        out += QFile::encodeName(f);
        if (::stat(QFile::encodeName(f).constData(), &st) == 0)
            out += QByteArray::number(qint64(st.st_size)) + '.' + QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.'
                   + QByteArray::number(qint64(st.st_mtim.tv_nsec));
        out += '\n';
    }
    return out;
}

class FolderChain : public ChainInput {
public:
    // records: only the lines naming one of them, and the prunings, are parsed and given; the
    // others are passed over by their short keys.
    FolderChain(QStringList files, const QList<int>* records)
        : files_(files), reader_(files, records == nullptr), filtered_(records != nullptr)
    {
        for (const QString& f : files_)
            total_ += sizeOf(f);
        if (records)
            for (int r : *records)
                wanted_.insert(QByteArray::number(r));
    }

    bool next(Entry& entry, Place& at) override
    {
        for (;;) {
            if (!reader_.next(entry))
                return false;
            if (filtered_) {
                if (entry.lineNumber == 0
                    || (!wanted_.contains(shortKey(entry.line, "\"record\":").toByteArray())
                        && shortKey(entry.line, "\"kind\":") != "pruned"))
                    continue;
                Entry parsed = parseLine(entry.line);
                parsed.file = entry.file;
                parsed.lineNumber = entry.lineNumber;
                parsed.complete = entry.complete;
                entry = std::move(parsed);
            }
            if (entry.file != file_) {
                file_ = entry.file;
                where_ = QStringLiteral("Archive/%1 line").arg(QFileInfo(file_).fileName());
            }
            at = {where_, entry.lineNumber};
            return true;
        }
    }
    bool inLastPart() const override { return !files_.isEmpty() && file_ == files_.last(); }
    qint64 done() const override { return reader_.bytesRead(); }
    qint64 total() const override { return total_; }

private:
    QStringList files_;
    ChainReader reader_;
    bool filtered_;
    QSet<QByteArray> wanted_;
    qint64 total_ = 0;
    QString file_, where_;
};

class FolderRows : public RowInput {
public:
    explicit FolderRows(const QString& table) : table_(table, DbfFile::Access::ReadOnly) {}

    const std::vector<DbfField>& fields() const override { return table_.fields(); }
    int count() const override { return table_.recordCount(); }
    void scan(int from, const std::function<bool(int, const char*)>& visit) override
    {
        bool stop = false;
        table_.scan(std::max(from - 1, 0), table_.recordCount(), [&](int index, const char* bytes) {
            if (!stop)
                stop = !visit(index + 1, bytes);
        });
    }
    QByteArray readFresh(int record) override { return table_.readFresh(record - 1); }
    qint64 unit() const override { return table_.recordLength(); }

private:
    DbfFile table_;
};

class FolderTrail : public TrailSource {
public:
    FolderTrail(QString folder, QString table) : folder_(std::move(folder)), table_(std::move(table)) {}

    std::unique_ptr<ChainInput> chain(Which which, const QDate& since, const QList<int>* records) override
    {
        const QString name = which == Which::Messages ? QStringLiteral("messages") : QStringLiteral("history");
        return std::make_unique<FolderChain>(filesSince(folder_, name, since), records);
    }
    std::unique_ptr<RowInput> rows(QString& problem) override
    {
        if (table_.isEmpty()) {
            problem = QStringLiteral("No result table was given to compare the trail with");
            return nullptr;
        }
        try {
            return std::make_unique<FolderRows>(table_);
        } catch (const Exception& e) {
            problem = QStringLiteral("The result table %1 cannot be read: %2").arg(table_, e.message());
            return nullptr;
        }
    }
    bool changesCommitWithEntries() const override { return false; }
    QByteArray fingerprint() override { return filesFingerprint(folder_, table_); }

private:
    QString folder_, table_;
};

} // namespace

std::unique_ptr<TrailSource> folderTrail(const QString& programFolder, const QString& tableFile)
{
    return std::make_unique<FolderTrail>(programFolder, tableFile);
}

} // namespace audit

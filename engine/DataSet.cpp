#include "engine/DataSet.h"

#include "engine/Cp1251.h"
#include "engine/DateFormat.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "engine/DbfMemo.h"
#include "engine/DbfSqlTable.h"
#include "engine/Sql.h"

#include <QDebug>
#include <cstring>
#include <map>

namespace {

constexpr int kChunk = 4096; // records per chunk of the shown-row index

class TDbField : public TField {
public:
    TDbField(TDataSet* ds, QString name, TFieldType type, int size, int decimals)
        : TField(ds, std::move(name), type, size, decimals) {}
};

QString valueText(SqlValue&& v, const SqlColumn& column)
{
    if (auto* s = std::get_if<QString>(&v))
        return std::move(*s);
    if (const auto* d = std::get_if<double>(&v))
        return QString::number(*d, 'f', column.type == TFieldType::Integer ? 0 : std::clamp(column.decimals, 0, 15));
    if (const auto* d = std::get_if<QDate>(&v))
        return datefmt::formatShortDate(*d);
    if (const auto* b = std::get_if<bool>(&v))
        return *b ? QStringLiteral("True") : QStringLiteral("False");
    return {};
}

} // namespace

struct TDataSet::Impl {
    explicit Impl(TDataSet* owner) : q(owner) {}

    TDataSet* q;
    bool isQuery = false;
    TDataSetState state = dsInactive;
    std::vector<std::unique_ptr<TField>> fields;
    int cur = -1; // table: record index from 0; query: result row from 0; -1: no row
    bool bof = true;
    bool eof = true;

    // Table
    QString tableName;
    std::unique_ptr<TRecordSource> file;
    std::function<std::unique_ptr<TRecordSource>()> openSource;  // set: records not from a file
    QByteArray buffer;                               // the row being edited or inserted
    QByteArray read;                                 // the row as Edit() read it
    std::map<int, std::optional<QByteArray>> memos;  // memo fields set in the buffer
    bool modified = false;
    int beforeInsert = -1;
    TWriteObserver* observer = nullptr;
    std::vector<int> chunkLive;                      // shown rows per chunk, -1 not counted yet
    std::uint64_t chunkGeneration = ~std::uint64_t(0);
    int chunkRecords = 0;

    // Query
    QStringList* sql = nullptr;
    std::shared_ptr<SqlRowSet> rows;
    int rowsAffected = 0;
    // The last text read of each field. A caller that reads a text and lets it go leaves it
    // unshared, and the next row's text of that field is decoded into the same memory.
    mutable std::vector<QString> texts;

    // --- errors ---------------------------------------------------------------------------

    [[noreturn]] void raise(const QString& message) const
    {
        const QString name = q->Name();
        throw EDatabaseError(name.isEmpty() ? message : name + QStringLiteral(": ") + message);
    }

    // Runs a write the observer was told of, and tells it how the write went.
    template <class F> void observed(qint64 token, F&& write)
    {
        try {
            write();
        } catch (...) {
            if (observer)
                observer->afterWrite(token, false);
            throw;
        }
        if (observer)
            observer->afterWrite(token, true);
    }

    // Runs fn; an engine error from below gets the component's name in front.
    template <class F> auto guarded(F&& fn) const
    {
        try {
            return fn();
        } catch (const ERowChanged&) {
            throw;  // said to the user as it stands
        } catch (const EDatabaseError& e) {
            const QString name = q->Name();
            if (name.isEmpty() || e.message().startsWith(name + QStringLiteral(": ")))
                throw;
            throw EDatabaseError(name + QStringLiteral(": ") + e.message());
        }
    }

    void checkActive() const
    {
        if (state == dsInactive)
            raise(QStringLiteral("Cannot perform this operation on a closed dataset"));
    }
    void checkEditing() const
    {
        if (state != dsEdit && state != dsInsert)
            raise(QStringLiteral("Dataset not in edit or insert mode"));
    }
    void checkCanModify() const
    {
        if (isQuery)
            raise(QStringLiteral("Cannot modify a read-only dataset"));
        if (file && !file->writable())
            raise(QStringLiteral("Cannot modify a read-only table"));
    }

    // --- rows -----------------------------------------------------------------------------

    int count() const
    {
        if (isQuery)
            return rows ? rows->rowCount() : 0;
        return file ? file->recordCount() : 0;
    }
    bool deleted(int i) const { return !isQuery && file->isDeleted(i); }
    int nextShown(int from) const
    {
        const int n = count();
        for (int i = std::max(from + 1, 0); i < n; ++i)
            if (!deleted(i))
                return i;
        return -1;
    }
    int priorShown(int from) const
    {
        for (int i = std::min(from, count()) - 1; i >= 0; --i)
            if (!deleted(i))
                return i;
        return -1;
    }
    bool shown(int i) const { return i >= 0 && i < count() && !deleted(i); }

    // Record bytes that the fields show: the pending row while editing, else the current one.
    const char* record() const
    {
        if (state == dsEdit || state == dsInsert)
            return buffer.constData();
        if (cur < 0 || !file)
            return nullptr;
        return file->record(cur);
    }

    // The post of an edit whose row another program changed (now) since it was read: the observer
    // hears of it, what it wrote is made final, and nothing of the edit is written.
    [[noreturn]] void refuse(TRecordSource::WriteScope& lock, const QByteArray& now, const QByteArray& tried)
    {
        const int recNo = cur + 1;
        if (observer)
            observer->refused(recNo, file->fields(), read, tried, now);
        lock.commit();
        QList<ERowChanged::Field> changed;
        for (const DbfField& f : file->fields())
            if (read.size() != now.size() || std::memcmp(read.constData() + f.offset, now.constData() + f.offset, size_t(f.length)) != 0)
                changed.append({f.name, dbfcodec::text(f, now.constData(), file->memo())});
        throw ERowChanged(recNo, std::move(changed));
    }

    // --- chunk counts of shown rows --------------------------------------------------------

    void syncChunks()
    {
        const int n = count();
        if (chunkGeneration != file->generation()) {
            chunkLive.clear();
            chunkGeneration = file->generation();
            chunkRecords = 0;
        }
        if (chunkRecords != n) {
            // Chunks from the one where the record count changed are counted again.
            const size_t keep = size_t(std::min(chunkRecords, n) / kChunk);
            chunkLive.resize(keep);
            chunkLive.resize(size_t((n + kChunk - 1) / kChunk), -1);
            chunkRecords = n;
        }
    }
    // Counts the chunks still lacking from the first up to last in one call: a server answers
    // them in one statement, where asking chunk by chunk would cost a round trip each.
    void countChunks(size_t last)
    {
        if (chunkLive.empty())
            return;
        last = std::min(last, chunkLive.size() - 1);
        size_t first = 0;
        while (first <= last && chunkLive[first] >= 0)
            ++first;
        if (first > last)
            return;
        const std::vector<int> counts = file->countShown(int(first), int(last - first + 1), kChunk);
        for (size_t k = 0; k < counts.size() && first + k <= last; ++k)
            if (chunkLive[first + k] < 0)
                chunkLive[first + k] = std::max(counts[k], 0);
    }
    int chunkCount(size_t c)
    {
        if (chunkLive[c] < 0)
            countChunks(c);
        return chunkLive[c];
    }
    void noteDeleted(int index)
    {
        syncChunks();
        const size_t c = size_t(index / kChunk);
        if (c < chunkLive.size() && chunkLive[c] > 0)
            --chunkLive[c];
    }

    // --- notifications ----------------------------------------------------------------------

    void setState(TDataSetState s)
    {
        if (state != s) {
            state = s;
            emit q->StateChanged();
        }
    }
    void scrolled()
    {
        emit q->DataChanged(nullptr);
        emit q->AfterScroll();
    }

    // A pending change is written, an unchanged new row dropped, before the row changes.
    void checkBrowseMode()
    {
        checkActive();
        if (state == dsEdit || state == dsInsert) {
            if (modified)
                q->Post();
            else
                q->Cancel();
        }
    }

    void buildTableFields()
    {
        fields.clear();
        int i = 0;
        for (const DbfField& f : file->fields()) {
            auto field = std::make_unique<TDbField>(q, f.name, dbfcodec::fieldType(f), f.length, f.decimals);
            field->index_ = i++;
            fields.push_back(std::move(field));
        }
    }
    void buildQueryFields()
    {
        fields.clear();
        int i = 0;
        for (const SqlColumn& c : rows->columns()) {
            auto field = std::make_unique<TDbField>(q, c.name, c.type, c.size, c.decimals);
            field->index_ = i++;
            fields.push_back(std::move(field));
        }
        texts.assign(fields.size(), QString());
    }

    void resetEdit()
    {
        buffer.clear();
        read.clear();
        memos.clear();
        modified = false;
    }

    // Stands on the first shown row of what was just opened and tells the listeners.
    void opened()
    {
        resetEdit();
        cur = nextShown(-1);
        bof = true;
        eof = cur < 0;
        setState(dsBrowse);
        emit q->AfterOpen();
        scrolled();
    }

    // --- field access ---------------------------------------------------------------------

    const DbfField& dbfField(const TField* f) const { return file->fields()[size_t(f->index_)]; }

    bool fieldIsNull(const TField* f, int recIndex, bool current) const
    {
        if (isQuery) {
            if (recIndex < 0 || !rows)
                return true;
            return std::holds_alternative<std::monostate>(rows->value(recIndex, f->index_));
        }
        if (current && (state == dsEdit || state == dsInsert)) {
            const auto m = memos.find(f->index_);
            if (m != memos.end())
                return !m->second.has_value();
        }
        const char* rec = current ? record() : (recIndex >= 0 ? file->record(recIndex) : nullptr);
        return !rec || dbfcodec::isNull(dbfField(f), rec);
    }

    QString fieldText(const TField* f, int recIndex, bool current) const
    {
        if (isQuery) {
            if (recIndex < 0 || !rows)
                return {};
            if (f->DataType() == TFieldType::String) { // the field's type is its column's
                QString& text = texts[size_t(f->index_)];
                rows->text(recIndex, f->index_, text);
                return text;
            }
            return valueText(rows->value(recIndex, f->index_), rows->columns()[size_t(f->index_)]);
        }
        if (current && (state == dsEdit || state == dsInsert)) {
            const auto m = memos.find(f->index_);
            if (m != memos.end())
                return m->second ? cp1251::decode(*m->second) : QString();
        }
        const char* rec = current ? record() : (recIndex >= 0 ? file->record(recIndex) : nullptr);
        if (!rec)
            return {};
        return dbfcodec::text(dbfField(f), rec, file->memo());
    }
};

// =============================================================================================
// TField

bool TField::IsNull() const
{
    const auto& d = *dataSet_->d;
    if (d.state == TDataSet::dsInactive)
        return true;
    return d.guarded([&] { return d.fieldIsNull(this, d.cur, true); });
}

QString TField::AsString() const
{
    const auto& d = *dataSet_->d;
    if (d.state == TDataSet::dsInactive)
        return {};
    return d.guarded([&] { return d.fieldText(this, d.cur, true); });
}

QString TField::DisplayText() const
{
    return AsString();
}

QDate TField::AsDate() const
{
    const auto& d = *dataSet_->d;
    if (d.state == TDataSet::dsInactive)
        return {};
    if (d.isQuery) {
        if (d.cur < 0 || !d.rows)
            return {};
        const SqlValue v = d.rows->value(d.cur, index_);
        const auto* date = std::get_if<QDate>(&v);
        return date ? *date : QDate();
    }
    const char* rec = d.record();
    return rec ? dbfcodec::date(d.dbfField(this), rec) : QDate();
}

double TField::AsFloat() const
{
    const auto& d = *dataSet_->d;
    if (d.state == TDataSet::dsInactive)
        return 0;
    if (d.isQuery) {
        if (d.cur < 0 || !d.rows)
            return 0;
        const SqlValue v = d.rows->value(d.cur, index_);
        const auto* n = std::get_if<double>(&v);
        return n ? *n : 0;
    }
    const char* rec = d.record();
    if (!rec)
        return 0;
    const DbfField& f = d.dbfField(this);
    if (f.type == 'N' || f.type == 'F')
        return dbfcodec::number(f, rec);
    bool ok = false;
    const double v = AsString().trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    return ok ? v : 0;
}

void TField::SetAsString(const QString& text)
{
    auto& d = *dataSet_->d;
    d.checkActive();
    d.checkCanModify();
    d.checkEditing();
    d.guarded([&] {
        std::optional<QByteArray> memo;
        QByteArray changed = d.buffer;
        dbfcodec::putText(d.dbfField(this), changed.data(), text, &memo);
        d.buffer = changed;
        if (DataType() == TFieldType::Memo)
            d.memos[index_] = memo;
    });
    d.modified = true;
    emit dataSet_->DataChanged(this);
}

void TField::Clear()
{
    auto& d = *dataSet_->d;
    d.checkActive();
    d.checkCanModify();
    d.checkEditing();
    dbfcodec::putNull(d.dbfField(this), d.buffer.data());
    if (DataType() == TFieldType::Memo)
        d.memos[index_] = std::nullopt;
    d.modified = true;
    emit dataSet_->DataChanged(this);
}

// =============================================================================================
// TDataSet

TDataSet::TDataSet(QObject* owner) : QObject(owner), d(std::make_unique<Impl>(this)) {}

TDataSet::~TDataSet()
{
    if (d->state == dsEdit || d->state == dsInsert) {
        // A destructor cannot report; a change that cannot be written here is lost, so say so.
        // Nobody is told of the post: whoever listens may be half destroyed already.
        blockSignals(true);
        try {
            if (d->modified)
                Post();
        } catch (const EDatabaseError& e) {
            qWarning().noquote() << "Pending change not written on closing:" << e.message();
        }
    }
}

bool TDataSet::Active() const { return d->state != dsInactive; }
TDataSet::TDataSetState TDataSet::State() const { return d->state; }

void TDataSet::Open()
{
    if (Active())
        return;
    d->guarded([&] {
        if (d->isQuery) {
            const QString text = d->sql ? d->sql->join(QLatin1Char('\n')) : QString();
            DbfTableOpener opener;
            SqlResult result = executeSql(text, opener);
            if (!result.hasRows || !result.rows)
                d->raise(QStringLiteral("The statement returns no rows; run it with ExecSQL"));
            d->rows = std::move(result.rows);
            d->buildQueryFields();
        } else {
            if (d->tableName.isEmpty())
                d->raise(QStringLiteral("Missing TableName property"));
            if (d->openSource)
                d->file = d->openSource();
            else
                d->file = std::make_unique<DbfFile>(d->tableName, DbfFile::Access::ReadWrite);
            d->chunkLive.clear();
            d->chunkGeneration = ~std::uint64_t(0);
            d->buildTableFields();
        }
    });
    d->opened();
}

void TDataSet::Close()
{
    if (!Active())
        return;
    if (d->state == dsEdit || d->state == dsInsert) {
        if (d->modified)
            Post();
        else
            Cancel();
    }
    d->setState(dsInactive);
    d->fields.clear();
    d->texts.clear();
    d->file.reset();
    d->rows.reset();
    d->chunkLive.clear();
    d->cur = -1;
    d->bof = d->eof = true;
    d->resetEdit();
    emit AfterClose();
    emit DataChanged(nullptr);
}

void TDataSet::First()
{
    d->checkBrowseMode();
    d->guarded([&] { d->cur = d->nextShown(-1); });
    d->bof = true;
    d->eof = d->cur < 0;
    d->scrolled();
}

void TDataSet::Last()
{
    d->checkBrowseMode();
    d->guarded([&] { d->cur = d->priorShown(d->count()); });
    d->eof = true;
    d->bof = d->cur < 0;
    d->scrolled();
}

void TDataSet::Next() { MoveBy(1); }
void TDataSet::Prior() { MoveBy(-1); }

void TDataSet::MoveBy(int distance)
{
    d->checkBrowseMode();
    if (distance == 0 || (distance > 0 && d->eof) || (distance < 0 && d->bof))
        return;
    d->guarded([&] {
        d->bof = d->eof = false;
        if (d->cur < 0 || !d->shown(d->cur)) {
            d->cur = d->nextShown(d->cur);
            if (d->cur < 0)
                d->cur = d->priorShown(d->count());
        }
        for (; distance > 0; --distance) {
            const int next = d->nextShown(d->cur);
            if (next < 0) {
                d->eof = true;
                break;
            }
            d->cur = next;
        }
        for (; distance < 0; ++distance) {
            const int prior = d->priorShown(d->cur);
            if (prior < 0) {
                d->bof = true;
                break;
            }
            d->cur = prior;
        }
        if (d->cur < 0)
            d->bof = d->eof = true;
    });
    d->scrolled();
}

bool TDataSet::Eof() const { return d->state == dsInactive || d->eof; }
bool TDataSet::Bof() const { return d->state == dsInactive || d->bof; }

bool TDataSet::IsEmpty() const
{
    d->checkActive();
    if (d->state == dsInsert)
        return false;
    return d->cur < 0;
}

int TDataSet::RecNo() const
{
    d->checkActive();
    if (d->state == dsInsert || d->cur < 0)
        return 0;
    return d->cur + 1;
}

void TDataSet::SetRecNo(int recNo)
{
    d->checkBrowseMode();
    const bool found = d->guarded([&] { return d->shown(recNo - 1); });
    if (!found)
        d->raise(QStringLiteral("Record %1 not found").arg(recNo));
    d->cur = recNo - 1;
    d->bof = d->eof = false;
    d->scrolled();
}

int TDataSet::RecordCount() const
{
    d->checkActive();
    if (d->isQuery)
        return d->count();
    return d->guarded([&] {
        d->syncChunks();
        d->countChunks(d->chunkLive.size());
        int total = 0;
        for (size_t c = 0; c < d->chunkLive.size(); ++c)
            total += d->chunkCount(c);
        return total;
    });
}

int TDataSet::RecNoOfRow(int row) const
{
    d->checkActive();
    if (row < 0)
        return 0;
    if (d->isQuery)
        return row < d->count() ? row + 1 : 0;
    return d->guarded([&] {
        d->syncChunks();
        for (size_t c = 0; c < d->chunkLive.size(); ++c) {
            // The row lies at least row / kChunk chunks on: those are counted with this one.
            if (d->chunkLive[c] < 0)
                d->countChunks(c + size_t(row / kChunk));
            const int live = d->chunkCount(c);
            if (row < live) {
                const int first = int(c) * kChunk;
                const int end = std::min(first + kChunk, d->count());
                for (int i = first; i < end; ++i)
                    if (!d->file->isDeleted(i) && row-- == 0)
                        return i + 1;
                return 0;
            }
            row -= live;
        }
        return 0;
    });
}

int TDataSet::RowOfRecNo(int recNo) const
{
    d->checkActive();
    if (d->isQuery)
        return recNo >= 1 && recNo <= d->count() ? recNo - 1 : -1;
    return d->guarded([&] {
        const int index = recNo - 1;
        if (!d->shown(index))
            return -1;
        d->syncChunks();
        const size_t chunk = size_t(index / kChunk);
        if (chunk > 0)
            d->countChunks(chunk - 1);
        int row = 0;
        for (size_t c = 0; c < chunk; ++c)
            row += d->chunkCount(c);
        for (int i = int(chunk) * kChunk; i < index; ++i)
            row += !d->file->isDeleted(i);
        return row;
    });
}

QString TDataSet::DisplayTextAt(int recNo, const TField* field) const
{
    d->checkActive();
    if (!field || field->DataSet() != this)
        return {};
    const bool current = (d->state == dsEdit && recNo == d->cur + 1);
    if (!current && (recNo < 1 || recNo > d->count()))
        return {};
    return d->guarded([&] { return d->fieldText(field, recNo - 1, current); });
}

int TDataSet::RecordsInFile() const
{
    d->checkActive();
    return d->count();
}

bool TDataSet::RecordDeleted(int recNo) const
{
    d->checkActive();
    if (recNo < 1 || recNo > d->count())
        return false;
    return d->guarded([&] { return d->deleted(recNo - 1); });
}

const std::vector<std::unique_ptr<TField>>& TDataSet::Fields() const { return d->fields; }

TField* TDataSet::FindField(const QString& name) const
{
    for (const auto& f : d->fields)
        if (f->FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return f.get();
    return nullptr;
}

TField* TDataSet::FieldByName(const QString& name) const
{
    TField* f = FindField(name);
    if (!f)
        d->raise(QStringLiteral("Field '%1' not found").arg(name));
    return f;
}

void TDataSet::Edit()
{
    d->checkActive();
    if (d->state == dsEdit || d->state == dsInsert)
        return;
    if (d->cur < 0) {
        Insert();
        return;
    }
    d->checkCanModify();
    d->guarded([&] {
        // Edit what the file holds now, not an older cached copy.
        QByteArray fresh = d->file->readFresh(d->cur);
        if (fresh.isEmpty() || fresh[0] == '*')
            d->raise(QStringLiteral("Record %1 has been deleted by another program").arg(d->cur + 1));
        d->buffer = std::move(fresh);
    });
    // Kept to tell at the post whether another program changed the row meanwhile.
    d->read = d->buffer;
    d->memos.clear();
    d->modified = false;
    d->setState(dsEdit);
    emit AfterEdit();
}

void TDataSet::Insert()
{
    d->checkBrowseMode();
    d->checkCanModify();
    d->beforeInsert = d->cur;
    d->resetEdit();
    d->buffer = d->file->blankRecord();
    d->setState(dsInsert);
    emit DataChanged(nullptr);
    emit AfterInsert();
}

void TDataSet::Append()
{
    Insert();
}

void TDataSet::Post()
{
    d->checkActive();
    if (d->state != dsEdit && d->state != dsInsert)
        return;
    d->guarded([&] {
        TRecordSource& file = *d->file;
        QByteArray rec = d->buffer;
        TRecordSource::WriteScope lock(file);
        QByteArray now;
        if (d->state == dsEdit) {
            // Another program may have deleted the row since the edit began: writing it would
            // bring it back with this program's flag.
            now = file.readFresh(d->cur);
            if (now.isEmpty() || now[0] == '*')
                d->raise(QStringLiteral("Record %1 has been deleted by another program").arg(d->cur + 1));
            // Or changed it: writing would silently undo what was typed there.
            if (now != d->read)
                d->refuse(lock, now, rec);
        }
        for (auto& [index, memo] : d->memos) {
            const DbfField& f = file.fields()[size_t(index)];
            if (!memo) {
                dbfcodec::putMemoBlock(f, rec.data(), 0);
                continue;
            }
            if (!file.memo())
                d->raise(QStringLiteral("Field '%1': the memo file is missing").arg(f.name));
            dbfcodec::putMemoBlock(f, rec.data(), file.memo()->append(*memo));
        }
        qint64 token = 0;
        if (d->observer) {
            const bool editing = d->state == dsEdit;
            token = d->observer->beforeWrite(editing ? TWriteObserver::Change::Edit : TWriteObserver::Change::Insert,
                                             (editing ? d->cur : file.recordCount()) + 1, file.fields(), now, rec);
        }
        d->observed(token, [&] {
            if (d->state == dsEdit)
                file.write(d->cur, rec);
            else
                d->cur = file.append(rec);
        });
        lock.commit();
    });
    d->resetEdit();
    d->bof = d->eof = false;
    d->setState(dsBrowse);
    emit AfterPost();
    emit DataChanged(nullptr);
}

void TDataSet::Cancel()
{
    d->checkActive();
    if (d->state != dsEdit && d->state != dsInsert)
        return;
    const bool inserting = d->state == dsInsert;
    d->resetEdit();
    d->setState(dsBrowse);
    if (inserting) {
        d->cur = d->beforeInsert;
        if (!d->shown(d->cur)) {
            const int next = d->nextShown(d->cur);
            d->cur = next >= 0 ? next : d->priorShown(d->count());
        }
        d->bof = d->eof = d->cur < 0;
    }
    emit AfterCancel();
    emit DataChanged(nullptr);
}

void TDataSet::Delete()
{
    d->checkActive();
    if (d->state == dsInsert) {
        Cancel();
        return;
    }
    if (d->cur < 0)
        d->raise(QStringLiteral("Cannot perform this operation on an empty dataset"));
    d->checkCanModify();
    if (d->state == dsEdit) {
        d->resetEdit();
        d->setState(dsBrowse);
    }
    d->guarded([&] {
        const int gone = d->cur;
        TRecordSource::WriteScope lock(*d->file);
        qint64 token = 0;
        if (d->observer) {
            QByteArray before = d->file->readFresh(gone);
            QByteArray after = before;
            if (!after.isEmpty())
                after[0] = '*';
            token = d->observer->beforeWrite(TWriteObserver::Change::Delete, gone + 1, d->file->fields(), before, after);
        }
        d->observed(token, [&] { d->file->setDeleted(gone, true); });
        lock.commit();
        d->noteDeleted(gone);
        const int next = d->nextShown(gone);
        d->cur = next >= 0 ? next : d->priorShown(gone);
        d->bof = d->eof = d->cur < 0;
    });
    emit AfterDelete();
    d->scrolled();
}

void TDataSet::Refresh()
{
    d->checkBrowseMode();
    d->guarded([&] {
        if (d->isQuery) {
            const int keep = d->cur;
            DbfTableOpener opener;
            SqlResult result = executeSql(d->sql ? d->sql->join(QLatin1Char('\n')) : QString(), opener);
            if (result.hasRows && result.rows)
                d->rows = std::move(result.rows);
            d->cur = std::min(keep, d->count() - 1);
        } else {
            d->file->refresh();
            // One record read tells whether the current row is still there; loading its whole
            // block would cost a refresh after every import more than the rest of it.
            const QByteArray current = d->cur >= 0 ? d->file->readFresh(d->cur) : QByteArray();
            if (current.isEmpty() || current[0] == '*') {
                const int next = d->nextShown(d->cur);
                d->cur = next >= 0 ? next : d->priorShown(d->count());
            }
        }
        if (d->cur < 0)
            d->bof = d->eof = true;
    });
    emit AfterRefresh();
    emit DataChanged(nullptr);
}

void TDataSet::TakeChangedRecords(int firstRecNo, int lastRecNo)
{
    if (d->state == dsInactive || d->isQuery || !d->file || firstRecNo < 1 || lastRecNo < firstRecNo)
        return;
    d->guarded([&] {
        d->file->changedElsewhere(firstRecNo - 1, lastRecNo - 1);
        // Chunks the count grew into are counted anew by syncChunks; those rewritten here too.
        d->syncChunks();
        for (size_t c = size_t((firstRecNo - 1) / kChunk); c < d->chunkLive.size() && c <= size_t((lastRecNo - 1) / kChunk); ++c)
            d->chunkLive[c] = -1;
    });
    if (d->state == dsBrowse && (d->cur < 0 || (d->cur >= firstRecNo - 1 && d->cur <= lastRecNo - 1 && !d->shown(d->cur)))) {
        // An empty view gets its first row; a current row deleted elsewhere gives way as at a refresh.
        const int next = d->nextShown(d->cur < 0 ? firstRecNo - 2 : d->cur);
        d->cur = next >= 0 || d->cur < 0 ? next : d->priorShown(d->cur);
        d->bof = d->eof = d->cur < 0;
    }
    emit RecordsChanged(firstRecNo, lastRecNo);
    emit DataChanged(nullptr);
}

bool TDataSet::Modified() const { return d->modified; }

void TDataSet::SetWriteObserver(TWriteObserver* observer) { d->observer = observer; }

// =============================================================================================
// TTable, TQuery, TDataSource

TTable::TTable(QObject* owner) : TDataSet(owner) {}

QString TTable::TableName() const { return d->tableName; }

void TTable::SetRecordSource(const QString& name, std::function<std::unique_ptr<TRecordSource>()> open)
{
    SetTableName(name);
    d->openSource = std::move(open);
}

void TTable::SetTableName(const QString& fullFileName)
{
    if (Active())
        d->raise(QStringLiteral("Cannot perform this operation on an open dataset"));
    d->tableName = fullFileName;
    d->openSource = nullptr;
}

QStringList TTable::Warnings() const { return d->file ? d->file->warnings() : QStringList(); }
bool TTable::ReadOnly() const { return d->file && !d->file->writable(); }

TQuery::TQuery(QObject* owner) : TDataSet(owner)
{
    d->isQuery = true;
    d->sql = &SQL;
}

void TQuery::ExecSQL()
{
    d->guarded([&] {
        DbfTableOpener opener;
        const SqlResult result = executeSql(SQL.join(QLatin1Char('\n')), opener);
        d->rowsAffected = result.rowsAffected;
    });
}

int TQuery::RowsAffected() const { return d->rowsAffected; }

void TQuery::OpenRows(std::shared_ptr<SqlRowSet> rows)
{
    Close();
    if (!rows)
        d->raise(QStringLiteral("No rows to open on"));
    SQL.clear();
    d->rows = std::move(rows);
    d->buildQueryFields();
    d->opened();
}

bool TDataSource::Edit()
{
    if (!DataSet || !DataSet->Active())
        return false;
    if (DataSet->State() == TDataSet::dsEdit || DataSet->State() == TDataSet::dsInsert)
        return true;
    if (!AutoEdit)
        return false;
    DataSet->Edit();
    return DataSet->State() == TDataSet::dsEdit || DataSet->State() == TDataSet::dsInsert;
}

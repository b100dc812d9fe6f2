// What the audit trail costs where it sits in the way: an edit of a row with its history entry,
// and a message's import with its archive entry, each against the same work without the trail
// plus one bare append-and-sync of a line of the same size (the least an entry written durably
// can cost). Both take turns, one step each, so both see the same load on a shared machine.
// The syncs are counted through the durable layer: an edit's entry adds exactly one.
#include "bench/support/Captures.h"
#include "bench/support/Outcome.h"
#include "audit/Chain.h"
#include "engine/DataSet.h"
#include "link/CaptureFiles.h"
#include "link/MessageImport.h"
#include "platform/durable/DurableIo.h"
#include "store/DbfResultStore.h"
#include "store/ResultTable.h"

#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Folder {
    QTemporaryDir dir;
    QString path;
    Folder()
    {
        path = dir.path() + QLatin1Char('/');
        QDir(path).mkpath(QStringLiteral("Temp"));
        resulttable::create(path);
    }
};

// One line appended and synced, as an entry is, without the chain, lock or JSON around it.
class BareAppend {
public:
    explicit BareAppend(const QString& folder) : path_(folder + QStringLiteral("bare.jsonl"))
    {
        fd_ = durable::openForWrite(path_, O_WRONLY | O_APPEND | O_CREAT);
    }
    ~BareAppend() { ::close(fd_); }
    bool append(qsizetype size)
    {
        const QByteArray line(size, 'x');
        return durable::writeAll(fd_, path_, line.constData(), line.size()) && durable::sync(fd_, path_, true);
    }

private:
    QString path_;
    int fd_ = -1;
};

std::atomic<int> syncs{0};

void BM_EditWithItsEntry(benchmark::State& state)
{
    const int edits = int(state.range(0));
    double ratio = 0;
    double extraSyncs = 0;
    for (auto _ : state) {
        Folder audited;
        Folder plain;
        DbfResultStore store(audited.path);
        TTable auditedTable;
        store.attachRows(auditedTable);
        TTable plainTable;
        plainTable.SetTableName(resulttable::tableFile(plain.path));
        BareAppend bare(plain.path);
        for (TTable* t : {&auditedTable, &plainTable}) {
            t->Open();
            t->Append();
            t->FieldByName(QStringLiteral("NUM"))->SetAsString(QStringLiteral("1"));
            t->Post();
        }
        durable::ScopedObserver count([](durable::Call& c) {
            if (c.op == durable::Op::Sync || c.op == durable::Op::SyncFolder)
                ++syncs;
            return 0;
        });
        Clock::duration spentAudited{};
        Clock::duration spentPlain{};
        int syncsAudited = 0;
        int syncsPlain = 0;
        bool ok = true;
        const qsizetype entrySize = 330;  // an edit entry of one field, as written
        for (int i = 0; i < edits; ++i) {
            const QString fio = QStringLiteral("Пациент %1").arg(i);
            syncs = 0;
            auto t0 = Clock::now();
            auditedTable.Edit();
            auditedTable.FieldByName(QStringLiteral("FIO"))->SetAsString(fio);
            auditedTable.Post();
            spentAudited += Clock::now() - t0;
            syncsAudited += syncs.exchange(0);

            t0 = Clock::now();
            plainTable.Edit();
            plainTable.FieldByName(QStringLiteral("FIO"))->SetAsString(fio);
            plainTable.Post();
            ok = bare.append(entrySize) && ok;
            spentPlain += Clock::now() - t0;
            syncsPlain += syncs.exchange(0);
        }
        // The work happened: each edit is in the table and has its entry and its resolution.
        int entries = 0;
        audit::ChainReader reader(audit::Chain::files(audited.path, QStringLiteral("history")));
        audit::Entry e;
        while (reader.next(e))
            entries += e.object.value(QLatin1String("kind")).toString() == QLatin1String("edit");
        auditedTable.Refresh();
        if (!benchsupport::check(state,
                                 ok && entries == edits
                                     && auditedTable.FieldByName(QStringLiteral("FIO"))->AsString()
                                            == QStringLiteral("Пациент %1").arg(edits - 1),
                                 "edits with entries: " + std::to_string(entries) + " entries for " +
                                     std::to_string(edits) + " edits"))
            return;
        ratio = std::chrono::duration<double>(spentAudited).count() / std::chrono::duration<double>(spentPlain).count();
        // The bare append's sync is the entry's; what the audited edit adds beyond the plain one.
        extraSyncs = double(syncsAudited - (syncsPlain - edits)) / edits;
    }
    state.counters["audited_vs_plain_plus_append"] = ratio;
    state.counters["extra_syncs_per_edit"] = extraSyncs;
    std::printf("\nEdit with its history entry: %.2f x an edit plus one bare append-and-sync (goal <= 1.2); "
                "%.2f extra syncs per edit (goal 1)\n",
                ratio, extraSyncs);
}

// A store that stores without archiving and then appends one bare line of the entry's size.
class WithBareAppend : public DbfResultStore {
public:
    WithBareAppend(const QString& folder, BareAppend& bare) : DbfResultStore(folder), bare_(bare) {}
    Stored store(const ImportedRow& row, const audit::ReceivedMessage& message) override
    {
        const Stored s = DbfResultStore::store(row, {});
        bare_.append(message.bytes.size() * 4 / 3 + 900);
        return s;
    }

private:
    BareAppend& bare_;
};

void BM_ImportWithItsArchive(benchmark::State& state)
{
    const int count = int(state.range(0));
    const QList<QByteArray> messages = benchsupport::captures(count, 7);
    double ratio = 0;
    for (auto _ : state) {
        Folder archived;
        Folder plain;
        BareAppend bare(plain.path);
        DbfResultStore archivingStore(archived.path);
        WithBareAppend plainStore(plain.path, bare);
        int errors = 0;
        MessageImport importArchived(archived.path, archivingStore, [&](const QString&) { ++errors; });
        MessageImport importPlain(plain.path, plainStore, [&](const QString&) { ++errors; });
        capture::CaptureWriter writerArchived(archived.path);
        capture::CaptureWriter writerPlain(plain.path);
        Clock::duration spentArchived{};
        Clock::duration spentPlain{};
        for (const QByteArray& m : messages) {
            QString error;
            writerArchived.write(m, &error);
            auto t0 = Clock::now();
            importArchived.tick();
            spentArchived += Clock::now() - t0;
            writerPlain.write(m, &error);
            t0 = Clock::now();
            importPlain.tick();
            spentPlain += Clock::now() - t0;
        }
        int archivedMessages = 0;
        audit::ChainReader reader(audit::Chain::files(archived.path, QStringLiteral("messages")));
        audit::Entry e;
        while (reader.next(e))
            archivedMessages += e.object.value(QLatin1String("outcome")).toString() == QLatin1String("stored");
        if (!benchsupport::check(state,
                                 errors == 0 && importArchived.imported() == count && importPlain.imported() == count
                                     && archivedMessages == count,
                                 std::to_string(count) + " messages: " + std::to_string(importArchived.imported()) +
                                     " imported with archive (" + std::to_string(archivedMessages) + " archived), " +
                                     std::to_string(importPlain.imported()) + " without; " + std::to_string(errors) +
                                     " errors"))
            return;
        ratio = std::chrono::duration<double>(spentArchived).count() / std::chrono::duration<double>(spentPlain).count();
    }
    state.counters["archived_vs_plain_plus_append"] = ratio;
    std::printf("\nImport with archiving: %.2f x the import plus one bare append-and-sync (goal <= 1.2)\n", ratio);
}

void registerAll()
{
    auto* edit = benchmark::RegisterBenchmark("BM_EditWithItsEntry", BM_EditWithItsEntry);
    auto* import = benchmark::RegisterBenchmark("BM_ImportWithItsArchive", BM_ImportWithItsArchive);
    if (benchsupport::smoke()) {
        edit->Arg(10);
        import->Arg(10);
    } else {
        edit->Arg(300);
        import->Arg(300);
    }
    edit->Iterations(1)->Unit(benchmark::kMillisecond);
    import->Iterations(1)->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv)
{
    benchsupport::takeSmokeFlag(argc, argv);
    registerAll();
    return benchsupport::runBenchmarks(argc, argv) ? 0 : 1;
}

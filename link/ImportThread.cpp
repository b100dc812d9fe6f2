#include "link/ImportThread.h"

#include "link/MessageImport.h"

class ImportThread::Worker : public QObject {
public:
    Worker(ImportThread& owner, QString folder, StoreMaker makeStore, int keepDays)
        : owner_(owner), folder_(std::move(folder)), makeStore_(std::move(makeStore)), keepDays_(keepDays)
    {
    }

    void pass()
    {
        try {
            passOnce();
        } catch (const Exception& e) {
            emit owner_.error(e.message());
        } catch (const std::exception& e) {
            emit owner_.error(QString::fromLocal8Bit(e.what()));
        }
        owner_.busy_ = false;
    }

    void keepSetAside(const audit::ReceivedMessage& message, const QString& reason)
    {
        setAside_.append({message, reason});
        archiveSetAside();
    }

    // Made and dropped on the import's thread.
    std::unique_ptr<ResultStore> store_;
    std::unique_ptr<MessageImport> import_;

private:
    void archiveSetAside()
    {
        if (!store_)
            return;
        while (!setAside_.isEmpty()) {
            try {
                store_->setAside(setAside_.front().first, nullptr, setAside_.front().second);
            } catch (const EStoreAway&) {
                return;  // with a later pass
            } catch (const Exception& e) {
                emit owner_.error(QStringLiteral("A message set aside as %1 is not archived: %2")
                                      .arg(setAside_.front().first.capture, e.message()));
            }
            setAside_.removeFirst();
        }
    }

    void passOnce()
    {
        if (!store_) {
            store_ = makeStore_();
            import_ = std::make_unique<MessageImport>(
                folder_, *store_, [this](const QString& m) { emit owner_.error(m); },
                [this] { emit owner_.stored(); });
            import_->setOnStoreAway([this](const QString& why) { awayThisPass_ = why; });
        }
        awayThisPass_.clear();
        if (!auditOpened_) {
            try {
                const ResultStore::AuditOpened opened = store_->openAudit(keepDays_);
                auditOpened_ = true;
                emit owner_.auditOpened(opened.adopted, opened.notApplied);
            } catch (const EStoreAway& e) {
                awayThisPass_ = e.message();
            }
        }
        if (auditOpened_)
            archiveSetAside();
        const bool importing = auditOpened_ && owner_.importing_;
        if (importing)
            import_->tick();
        if (awayThisPass_.isEmpty() && (owner_.away_ || !importing)) {
            // Nothing may have waited to show it: ask.
            QString why;
            if (!store_->reachable(&why))
                awayThisPass_ = why;
        }
        if (!awayThisPass_.isEmpty() && !owner_.away_.exchange(true))
            emit owner_.storeAway(awayThisPass_);
        else if (awayThisPass_.isEmpty() && owner_.away_.exchange(false))
            emit owner_.storeBack();
    }

    ImportThread& owner_;
    QString folder_;
    StoreMaker makeStore_;
    int keepDays_;
    bool auditOpened_ = false;
    QString awayThisPass_;
    QList<std::pair<audit::ReceivedMessage, QString>> setAside_;
};

ImportThread::ImportThread(QString programFolder, StoreMaker makeStore, int keepDays)
    : worker_(new Worker(*this, std::move(programFolder), std::move(makeStore), keepDays))
{
    thread_.setObjectName(QStringLiteral("import"));
    worker_->moveToThread(&thread_);
    thread_.start();
}

ImportThread::~ImportThread()
{
    // The store and the import are dropped on their own thread, after the pass under way.
    QMetaObject::invokeMethod(worker_, [w = worker_] {
        w->import_.reset();
        w->store_.reset();
    }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete worker_;
}

void ImportThread::kick()
{
    if (busy_.exchange(true))
        return;
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->pass(); }, Qt::QueuedConnection);
}

void ImportThread::setAside(const audit::ReceivedMessage& message, const QString& reason)
{
    QMetaObject::invokeMethod(worker_, [w = worker_, message, reason] { w->keepSetAside(message, reason); },
                              Qt::QueuedConnection);
}

void ImportThread::runPass()
{
    while (busy_.exchange(true))
        QThread::msleep(5);
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->pass(); }, Qt::BlockingQueuedConnection);
}

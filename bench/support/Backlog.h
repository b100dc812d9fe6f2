#pragma once
// Messages stored as the import stores a backlog: each its own transaction, the store's disk
// waited for once per MessageImport::kFlushEvery of them and once at the end (flush()).
#include "bench/support/Messages.h"
#include "link/MessageImport.h"
#include "store/ResultStore.h"

namespace benchsupport {

class Backlog {
public:
    explicit Backlog(ResultStore& store) : store_(store) {}

    // Stores row with analyserMessage(n); true when it was stored anew.
    bool store(const ImportedRow& row, int n)
    {
        const bool stored = store_.storeUnflushed(row, analyserMessage(n)).answer == ResultStore::Insert::Stored;
        if (++owed_ == MessageImport::kFlushEvery)
            flush();
        return stored;
    }
    // The wait at the end of an import's pass.
    void flush()
    {
        store_.flush();
        owed_ = 0;
    }

private:
    ResultStore& store_;
    int owed_ = 0;
};

} // namespace benchsupport

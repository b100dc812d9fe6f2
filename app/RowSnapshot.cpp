#include "app/RowSnapshot.h"

#include "engine/DataSet.h"
#include "store/ResultTable.h"

TRowSnapshot::TRowSnapshot(TDataSet& source) : table_(std::make_unique<TTable>())
{
    if (!dir_.isValid())
        throw EDatabaseError(QStringLiteral("Cannot make a temporary folder for the row to print: %1").arg(dir_.errorString()));
    table_->SetName(QStringLiteral("Snapshot"));
    table_->SetTableName(resulttable::create(dir_.path() + QLatin1Char('/')));
    table_->Open();
    const bool hasRow = source.Active()
                        && (!source.IsEmpty() || source.State() == TDataSet::dsInsert);
    if (!hasRow)
        return;
    table_->Append();
    for (const auto& field : source.Fields()) {
        if (field->IsNull())
            continue;
        if (TField* copy = table_->FindField(field->FieldName()))
            copy->SetAsString(field->AsString());
    }
    table_->Post();
}

TRowSnapshot::~TRowSnapshot()
{
    // Reports holding the copy let go of it by themselves (their data set references are guarded).
    table_.reset();
}

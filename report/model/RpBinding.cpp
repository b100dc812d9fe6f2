#include "report/model/RpBinding.h"

#include "report/model/RpItems.h"
#include "report/model/RpReport.h"

namespace rpbinding {

void setCaptions(TReport& report, std::span<const std::pair<QString, QString>> captions)
{
    report.ForEachItem([&](TRpPrintable& item) {
        auto* label = dynamic_cast<TRpLabel*>(&item);
        if (!label)
            return;
        for (const auto& [name, text] : captions)
            if (item.Name == name)
                label->SetCaption(text);
    });
}

void bindFields(TReport& report, TDataSet* dataSet, std::span<const std::pair<QString, QString>> fields)
{
    report.ForEachItem([&](TRpPrintable& item) {
        auto* field = dynamic_cast<TRpDBText*>(&item);
        if (!field)
            return;
        for (const auto& [name, fieldName] : fields)
            if (item.Name == name) {
                if (dataSet)
                    field->SetDataSet(dataSet);
                field->SetDataField(fieldName);
            }
    });
}

} // namespace rpbinding

#pragma once
// The period report's holder: the landscape report over the period query's rows. The period
// query dialog sets its headings and binds its field items before every preview.
#include <QObject>
#include <QString>
#include <memory>
#include <utility>
#include <vector>

class TDataSet;
class TReport;
class TRpGenerator;

class TForm7 : public QObject {
    Q_OBJECT
public:
    explicit TForm7(QObject* owner);
    ~TForm7() override;

    // Previews the period report; returns when the preview window has closed. Ignored while a
    // run of this report goes on.
    void Preview();
    // False while a run of the report goes on; a request then changes nothing.
    bool Available();

    // The three heading texts RpLabel2, RpLabel3, RpLabel4 of the title band.
    void SetHeadings(const QString& first, const QString& separator, const QString& second);
    // Binds each named field item to its field of the data set.
    void BindFields(TDataSet* dataSet, const std::vector<std::pair<QString, QString>>& bindings);

    TReport& Report1();
    TRpGenerator& Generator();

private:
    void load();

    std::unique_ptr<TReport> report_;
    std::unique_ptr<TRpGenerator> generator_;
};

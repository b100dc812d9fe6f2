#include "app/ExportForm.h"

#include "app/DatePicker.h"
#include "app/ErrorBox.h"
#include "app/Unit1.h"
#include "app/WindowFrame.h"
#include "engine/DataSet.h"
#include "engine/DateFormat.h"
#include "export/RowExport.h"
#include "platform/Exception.h"

#include <QAction>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>

namespace {

const QString kXlsxFilter = QStringLiteral("Книга Excel (*.xlsx)");
const QString kCsvFilter = QStringLiteral("CSV (*.csv)");


} // namespace

TExportForm::TExportForm(TForm1* main) : QDialog(main), main_(main)
{
    setObjectName(QStringLiteral("ExportForm"));
    setWindowTitle(QStringLiteral("Экспорт"));
    setFont(main->font());
    setModal(true);
    // The period query's size and place: the same question, asked the same way.
    WindowFrame::keep(this, QSize(424, 198), WindowFrame::Resizing::Sizeable, QPoint(572, 303));

    const QString format = datefmt::shortDateFormat();
    const QDate today = QDateTime::currentDateTime().date();
    auto picker = [&](const char* name, int x) {
        auto* p = new TDatePicker(this);
        p->setObjectName(QString::fromLatin1(name));
        p->setCalendarPopup(true);
        p->setDisplayFormat(format);
        p->setGeometry(x, 16, 186, 21);
        p->setDate(today);
        return p;
    };
    DateTimePicker1 = picker("DateTimePicker1", 8);
    DateTimePicker2 = picker("DateTimePicker2", 216);
    auto button = [&](const QString& text, const char* name, int x) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, 96, 75, 25);
        b->setAutoDefault(false);
        return b;
    };
    Button1 = button(QStringLiteral("OK"), "Button1", 96);
    Button2 = button(QStringLiteral("Закрыть"), "Button2", 232);
    setTabOrder(DateTimePicker1, DateTimePicker2);
    setTabOrder(DateTimePicker2, Button1);
    setTabOrder(Button1, Button2);
    connect(Button1, &QPushButton::clicked, this, [this] { ui::guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    Query1 = new TQuery(this);
    Query1->SetName(QStringLiteral("Query1"));
}

QAction* TExportForm::addMenuItem(QMenu* file, TForm1* main)
{
    file->addSeparator()->setObjectName(QStringLiteral("ExportSeparator"));
    QAction* item = file->addAction(QStringLiteral("Экспорт…"));
    item->setObjectName(QStringLiteral("ExportItem"));
    QObject::connect(item, &QAction::triggered, main, [main] {
        ui::guarded([main] {
            // A row typed and not yet written would be missing from the file.
            if (!main->writePendingEdits())
                return;
            auto* form = main->findChild<TExportForm*>(QString(), Qt::FindDirectChildrenOnly);
            if (!form)
                form = new TExportForm(main);
            form->exec();
        });
    });
    return item;
}

QString TExportForm::askFileName()
{
    QFileDialog dialog(this, windowTitle());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({kXlsxFilter, kCsvFilter});
    // A name typed without an extension takes the chosen filter's.
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter == kCsvFilter ? QStringLiteral("csv") : QStringLiteral("xlsx"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void TExportForm::Button1Click()
{
    // A start-up that failed before the store was made leaves nothing to export from.
    ResultStore* store = main_->store();
    if (!store)
        throw Exception(QStringLiteral("The results are not open: nothing to export"));
    const QString file = AskFileName ? AskFileName() : askFileName();
    if (file.isEmpty())
        return;
    const int written =
        rowexport::exportPeriod(*store, *Query1, DateTimePicker1->date(), DateTimePicker2->date(), file);
    // The rows are in the file; the query need not hold them until the next export.
    Query1->Close();
    main_->statusBar()->showMessage(
        QStringLiteral("Экспорт: записано строк: %1, файл %2").arg(written).arg(QDir::toNativeSeparators(file)));
    accept();
}

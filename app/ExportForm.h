#pragma once
// The export dialog (Файл → Экспорт…): picks one day or a range of days as the period query does,
// asks for the file (a workbook or a CSV file) and writes the period's rows into it through
// export/RowExport, saying in the main window's status bar how many rows it wrote. A thin window:
// the choice of rows, their cells and the file's writing are export/'s.
//
// Knows: the main window (its store, its status bar, its pending edits) and the file dialog. Must
// not know: how rows become cells or files. Untrusted: the file name chosen (export/ checks it).
#include <QDialog>
#include <functional>

class QAction;
class QDateEdit;
class QMenu;
class QPushButton;
class TForm1;
class TQuery;

class TExportForm : public QDialog {
    Q_OBJECT
public:
    explicit TExportForm(TForm1* main);

    // Adds "Экспорт…" behind a separator at the end of file; it opens the dialog over main, made on
    // first use and kept, so that the dates chosen stay for the next export.
    static QAction* addMenuItem(QMenu* file, TForm1* main);

    QDateEdit* DateTimePicker1;
    QDateEdit* DateTimePicker2;
    QPushButton* Button1; // "OK"
    QPushButton* Button2; // "Закрыть"
    // The dialog's own query: the main window's Query1 belongs to the import.
    TQuery* Query1;

    // Asks for the file to write; empty when the user cancels. Tests put their answer here.
    std::function<QString()> AskFileName;

    void Button1Click();

private:
    QString askFileName();
    TForm1* main_;
};

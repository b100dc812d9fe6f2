#pragma once
// The main window: the grid over the result table, the movable record panel, the menu, and the
// objects the rest of the program works through (the table, the import's query and timer, the
// serial link).
#include <QGroupBox>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class TTable;
class TQuery;
class TDataSource;
class TDBGrid;
class TDBEdit;
class TDBNavigator;
class SerialLink;
class FrameReceiver;
class LineLog;
class MessageImport;
class ImportThread;
class PgListener;
class ResultStore;
namespace audit {
class MessageArchive;
}
class TrayIcon;
class TForm8;
class TFindBar;
class TForm9;
namespace reading {
class ReferenceRanges;
}

// The record panel: a group box that the user drags by its own surface.
class TRecordPanel : public QGroupBox {
    Q_OBJECT
public:
    explicit TRecordPanel(QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* e) override;   // GroupBox1MouseDown
    void mouseMoveEvent(QMouseEvent* e) override;    // GroupBox1MouseMove
    void mouseReleaseEvent(QMouseEvent* e) override; // GroupBox1MouseUp

private:
    bool dragging_ = false;
    QPoint pressed_;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1();
    ~TForm1() override;

    // Start-up values, read once by FormCreate.
    QString ProgramFolder;
    QString PortName;
    QString Rate;
    QString DatabasePath;

    // The settings file of the program folder; "ERROR" for a missing key or file.
    QString ReadINI(const QString& section, const QString& key) const;
    // Raises "Unable to write to <path>" when the system refuses the write.
    void WriteINI(const QString& section, const QString& key, const QString& value) const;

    TTable* Table1 = nullptr;
    TDataSource* DataSource1 = nullptr;
    TQuery* Query1 = nullptr;
    QTimer* Timer1 = nullptr;
    TDBGrid* DBGrid1 = nullptr;
    TRecordPanel* GroupBox1 = nullptr;
    QLabel* Label18 = nullptr;
    QPushButton* Button1 = nullptr;
    TDBNavigator* DBNavigator1 = nullptr;
    QAction* N2 = nullptr;  // "Старт"
    QAction* N3 = nullptr;  // "Настройки"
    QAction* N5 = nullptr;  // "Печать"
    QAction* N7 = nullptr;  // "Выход"
    QAction* N9 = nullptr;  // "Панель"
    QAction* N11 = nullptr; // "Запрос"
    QAction* N10 = nullptr; // "Справка"
    QAction* N12 = nullptr; // "История записи"
    QAction* N13 = nullptr; // "Нормы"
    QAction* N14 = nullptr; // "История пациента" (Ctrl+H)
    QAction* N15 = nullptr; // "Найти" (Ctrl+F)
    QAction* N16 = nullptr; // "Обновить" (F5)
    QMenu* N1 = nullptr;    // "Файл"
    QMenu* N8 = nullptr;    // "Вид"

    // The panel's edit box bound to a field (by field name), or null.
    TDBEdit* editFor(const QString& fieldName) const;
    SerialLink* link() const { return link_.get(); }
    // The import on the window's thread (the dBase table); null when the store is a database
    // server, whose import runs beside the window (importThread()).
    MessageImport* import() const { return import_.get(); }
    ImportThread* importThread() const { return importThread_.get(); }
    // Where the results are kept; made at start-up.
    ResultStore* store() const { return store_.get(); }
    TrayIcon* tray() const { return tray_.get(); }
    // The row's history window, once opened (it is made on first use).
    TForm8* historyWindow() const { return history_; }
    // The reference limits the grid and the panel flag values against (ranges.ini).
    const reading::ReferenceRanges& ranges() const { return *ranges_; }
    QString rangesFile() const;
    // Takes new limits: the grid and the panel show them at once.
    void setRanges(const reading::ReferenceRanges& ranges);

    // Handlers.
    void FormCreate();
    void FormShow();
    void FormClose();
    void Table1AfterScroll();
    void N2Click();
    void N3Click();
    void N5Click();
    void N7Click();
    void N9Click();
    void N10Click();
    void N11Click();
    void N12Click();
    void N13Click();
    void N14Click();
    void N15Click();
    void N16Click();
    // Finds text from the current row (backward: before it), writing a pending edit first, and
    // moves the grid there; returns what the find bar says.
    QString findRow(const QString& text, bool backward);
    TFindBar* findBar() const { return findBar_; }
    // The patient's history window, once opened.
    TForm9* patientWindow() const { return patient_; }
    // Moves the grid to a record (after writing a pending edit), refreshing first when the record
    // is newer than the grid's rows.
    void goToRecord(int record);
    void startTrailCheck();
    void stopTrailCheck();
    void Button1Click();
    void Timer1Timer();
    void DBGrid1MouseUp(Qt::MouseButton button);
    // The tray icon's callback: the mouse message that happened over the icon.
    void TrayMessage(int mouseMessage);

    // True once the store said its user may only read the results (a viewing desk): editing,
    // deleting, restoring and Start are off, the port stays closed, the status bar says why.
    bool readOnly() const { return readOnly_; }

    // Ends the program the way the exit dialog does: Stop, tray icon removed, window closed.
    // What is typed and not yet written is written first; when the row refuses it, the error
    // is shown, the typed text stays and the program does not end.
    void closeProgram();
    // Hides the window to the tray, on the same condition.
    void hideToTray();
    // Writes what is typed in the panel's boxes and a grid cell into the current row and posts
    // it (an unchanged new row is dropped). False, with the error shown, when it is refused.
    bool writePendingEdits();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    // Ctrl+Del in the grid while read-only.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildMenu();
    void buildPanel();
    void updateRecordFromEdits();
    // Marks the panel's values against the limits, by what the boxes show (typed text included).
    void markPanel();
    // Shows message in the error box from the event loop, so that the caller goes on at once
    // (the import and the reader thread never wait for someone to answer a box).
    void showErrorLater(const QString& message);
    // After the import stored rows: what is typed goes into the row, then the table is read anew.
    void refreshAfterImport();
    // The store on a database server: the import beside the window, and the window's rows
    // opened again when the server answers after an outage.
    void startServerImport(const QString& database, int keepDays);
    void storeAnswersAgain();
    void sayStoreAway(const QString& why);
    // Asks the store whether its user may change the results, and shows read-only when not.
    void showAccess();
    void enterReadOnly(const QString& user);
    QWidget* client_ = nullptr;

    // Used on the reader thread only; declared first so that it outlives the link.
    std::unique_ptr<audit::MessageArchive> receiverArchive_;
    std::unique_ptr<LineLog> lineLog_;
    std::unique_ptr<FrameReceiver> receiver_;
    std::unique_ptr<SerialLink> link_;
    std::unique_ptr<ResultStore> store_;
    std::unique_ptr<MessageImport> import_;
    std::unique_ptr<ImportThread> importThread_;
    QTimer* storeTimer_ = nullptr;      // asks the server's import for a pass, Start or not
    QString storeAway_;                 // what the status bar says while the server is away
    PgListener* rowsListener_ = nullptr; // rows other programs store on the server, into the grid
    std::unique_ptr<TrayIcon> tray_;
    TForm8* history_ = nullptr;
    TFindBar* findBar_ = nullptr;
    TForm9* patient_ = nullptr;
    QTimer* indexTimer_ = nullptr;      // says how far the index has come while it is made
    std::shared_ptr<const reading::ReferenceRanges> ranges_;
    std::thread trailCheck_;            // the start-up check of the trail's last days
    std::atomic_bool stopCheck_{false};
    bool readOnly_ = false;
    bool closing_ = false;
    bool closed_ = false;
};

#include "app/Unit1.h"

#include "app/AppIcon.h"
#include "app/DBEdit.h"
#include "app/DBGrid.h"
#include "app/DBNavigator.h"
#include "app/ErrorBox.h"
#include "app/ExportForm.h"
#include "app/FindBar.h"
#include "app/Forms.h"
#include "app/Startup.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"
#include "app/Unit8.h"
#include "app/Unit9.h"
#include "app/RangesForm.h"
#include "engine/DataSet.h"
#include "link/CaptureFiles.h"
#include "link/FrameReceiver.h"
#include "link/LineLog.h"
#include "link/MessageImport.h"
#include "link/SerialLink.h"
#include "platform/IniFile.h"
#include "platform/print/PrinterInfo.h"
#include "platform/tray/TrayIcon.h"
#include "report/session/RpReportSession.h"
#include "link/ImportThread.h"
#include "store/pg/PgListener.h"
#include "store/pg/PgResultStore.h"
#include "store/pg/StoreChoice.h"
#include "audit/MessageArchive.h"
#include "reading/Flags.h"

#include <limits>
#include <QAction>
#include <QStatusBar>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The panel's edit boxes: field, place, width, and the label above or beside it.
struct PanelEdit {
    const char* field;
    int x, y, width, tab;
    const char* label; // null: no label
    int labelX, labelY;
};

// In keyboard order's table order; tab is the place in the keyboard order.
constexpr PanelEdit kPanelEdits[] = {
    {"NUM", 8, 24, 121, 1, nullptr, 0, 0},
    {"DAT", 136, 24, 121, 2, nullptr, 0, 0},
    {"TIM", 264, 24, 57, 3, nullptr, 0, 0},
    {"FIO", 136, 48, 121, 4, "Пациент", 24, 56},
    {"RECEPTION", 264, 48, 57, 5, nullptr, 0, 0},
    {"DOC", 136, 72, 121, 27, "Возраст", 24, 80},
    {"WBC", 32, 112, 49, 6, "WBC", 40, 96},
    {"LY2", 104, 112, 49, 7, "LY#", 120, 96},
    {"MO2", 152, 112, 49, 8, "MO#", 168, 96},
    {"GR2", 200, 112, 49, 9, "GR#", 216, 96},
    {"RBC", 264, 112, 49, 14, "RBC", 280, 96},
    {"HGB", 32, 152, 49, 13, "HGB", 48, 136},
    {"LY1", 104, 152, 49, 10, "LY%", 120, 136},
    {"MO1", 152, 152, 49, 11, "MO%", 168, 136},
    {"GR1", 200, 152, 49, 12, "GR%", 216, 136},
    {"PLT", 264, 152, 49, 15, "PLT", 280, 136},
    {"FORMULA", 88, 184, 225, 16, "Формула", 24, 192},
    {"HCT", 24, 232, 49, 17, "HCT", 32, 216},
    {"MCV", 80, 232, 49, 18, "MCV", 88, 216},
    {"MCH", 136, 232, 49, 19, "MCH", 152, 216},
    {"MCHC", 192, 232, 49, 20, "MCHC", 200, 216},
    {"RDV", 248, 232, 49, 21, "RDW", 256, 216},
    {"MPV", 24, 272, 49, 22, "MPV", 32, 256},
    {"PCT", 80, 272, 49, 23, "PCT", 96, 256},
    {"PDW", 136, 272, 49, 24, "PDW", 152, 256},
    {"COE", 192, 272, 49, 25, "СОЭ", 208, 256},
    {"RETIC", 248, 272, 49, 26, "Rt", 256, 256},
    {"COMMENT", 24, 320, 281, 28, "Коментарии", 24, 304},
};

// The grid's sixteen columns and their titles.
constexpr std::pair<const char*, const char*> kGridColumns[] = {
    {"NUM", "Номер"}, {"DAT", "Дата"}, {"TIM", "Время"}, {"FIO", "Пациент"}, {"RECEPTION", "Направлен"},
    {"WBC", "WBC"},   {"FORMULA", "Формула"}, {"RBC", "RBC"}, {"HGB", "HGB"}, {"HCT", "HCT"},
    {"PLT", "PLT"},   {"LY1", "LY%"}, {"MO1", "MO%"}, {"GR1", "GR%"}, {"COE", "COE"}, {"RETIC", "RETIC"},
};

// Keeps a button off that its own widget turns on again with the data set's state (the
// navigator's insert and delete, the history's restore) while the window is read-only.
class KeepOff : public QObject {
public:
    explicit KeepOff(QWidget* w) : QObject(w)
    {
        w->installEventFilter(this);
        w->setEnabled(false);
    }
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::EnabledChange)
            if (auto* w = qobject_cast<QWidget*>(watched); w && w->isEnabled())
                w->setEnabled(false);
        return false;
    }
};

QFont dialogFont()
{
    // The dialogs' face at 8 points where the system has it; otherwise the nearest narrow sans
    // face (Liberation Sans measures as Arial does), so that texts fit the laid-out places.
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                   QStringLiteral("Liberation Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(8);
    return f;
}

} // namespace

// ---------------------------------------------------------------------------------------------
TRecordPanel::TRecordPanel(QWidget* parent) : QGroupBox(QStringLiteral("Запись"), parent)
{
    setObjectName(QStringLiteral("GroupBox1"));
    // The panel lies above the grid and hides what is under it.
    setAutoFillBackground(true);
}

void TRecordPanel::mousePressEvent(QMouseEvent* e)
{
    // Any press other than the left button ends a drag.
    dragging_ = e->button() == Qt::LeftButton;
    pressed_ = e->position().toPoint();
    QGroupBox::mousePressEvent(e);
}

void TRecordPanel::mouseMoveEvent(QMouseEvent* e)
{
    if (dragging_) {
        const QPoint p = e->position().toPoint();
        move(x() + p.x() - pressed_.x(), y() + p.y() - pressed_.y());
    }
    QGroupBox::mouseMoveEvent(e);
}

void TRecordPanel::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        dragging_ = false;
    QGroupBox::mouseReleaseEvent(e);
}

// ---------------------------------------------------------------------------------------------
TForm1::TForm1()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Hematix"));
    setFont(dialogFont());
    // No close button: the program is ended or hidden through the exit dialog.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint);
    setGeometry(218, 120, 1024, 640);

    Table1 = new TTable(this);
    Table1->SetName(QStringLiteral("Table1"));
    DataSource1 = new TDataSource(this);
    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    DataSource1->DataSet = Table1;
    DataSource1->AutoEdit = true;
    Query1 = new TQuery(this);
    Query1->SetName(QStringLiteral("Query1"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

    // The client area: the grid fills it, the record panel lies above the grid.
    client_ = new QWidget(this);
    auto* clientLayout = new QVBoxLayout(client_);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    DBGrid1 = new TDBGrid(DataSource1, client_);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    for (const auto& [field, title] : kGridColumns)
        DBGrid1->addColumn(QString::fromLatin1(field), QString::fromUtf8(title));
    clientLayout->addWidget(DBGrid1);
    findBar_ = new TFindBar(client_);
    findBar_->hide();
    findBar_->setFind([this](const QString& text, bool backward) { return findRow(text, backward); });
    connect(findBar_, &TFindBar::closed, DBGrid1, [this] { DBGrid1->setFocus(); });
    clientLayout->addWidget(findBar_);
    setCentralWidget(client_);
    connect(DBGrid1, &TDBGrid::mouseReleased, this, &TForm1::DBGrid1MouseUp);
    connect(Table1, &TDataSet::AfterScroll, this, &TForm1::Table1AfterScroll);

    ranges_ = std::make_shared<const reading::ReferenceRanges>(reading::ReferenceRanges::defaults());
    buildMenu();
    buildPanel();
    DBGrid1->setBeforeMove([this] { updateRecordFromEdits(); });
    // A printer that did not answer in time is said where it does not stop the work; the status
    // bar appears only then.
    PrinterInfo::setNoAnswerListener([window = QPointer<TForm1>(this)](const QString& text) {
        QMetaObject::invokeMethod(qApp, [window, text] {
            if (window)
                window->statusBar()->showMessage(text);
        }, Qt::QueuedConnection);
    });

    ui::guarded([this] { FormCreate(); });
}

TForm1::~TForm1()
{
    stopTrailCheck();
    PrinterInfo::setNoAnswerListener(nullptr);
    if (!closed_)
        FormClose();
}

void TForm1::startTrailCheck()
{
    // The last 30 days of the trail against the rows, beside the window: a large trail must not
    // hold the start. Rows changed outside the program are marked "!" in the indicator column.
    if (trailCheck_.joinable())
        trailCheck_.join();
    trailCheck_ = std::thread([this] {
        audit::VerifyReport report;
        try {
            report = store_->checkRecent(30, &stopCheck_);
        } catch (const std::exception& e) {
            report.breaks << QString::fromLocal8Bit(e.what());
        }
        if (report.cancelled)
            return;
        QMetaObject::invokeMethod(this, [this, report] {
            const QSet<int> marked(report.changedOutside.begin(), report.changedOutside.end());
            DBGrid1->gridModel()->setMarkedRecords(marked);
            store_->noteChangedOutside(report.changedOutside);
            if (!report.changedOutside.isEmpty())
                statusBar()->showMessage(QStringLiteral("Проверка журнала за 30 дней: строк, изменённых вне Hematix: %1 "
                                                        "(отмечены «!»).")
                                             .arg(report.changedOutside.size()));
            else if (!report.ok())
                statusBar()->showMessage(QStringLiteral("Проверка журнала за 30 дней: нарушений: %1 "
                                                        "(подробно: hematix-audit verify).")
                                             .arg(report.breaks.size() + report.breaksNotListed));
            for (const QString& b : report.breaks)
                qWarning("Audit trail: %s", qUtf8Printable(b));
        }, Qt::QueuedConnection);
    });
}

void TForm1::stopTrailCheck()
{
    stopCheck_ = true;
    if (trailCheck_.joinable())
        trailCheck_.join();
}

void TForm1::buildMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    N1 = bar->addMenu(QStringLiteral("Файл"));
    N1->setObjectName(QStringLiteral("N1"));
    auto item = [this](QMenu* menu, const char* name, const char* text, void (TForm1::*handler)()) {
        QAction* a = menu->addAction(QString::fromUtf8(text));
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, [this, handler] { ui::guarded([this, handler] { (this->*handler)(); }); });
        return a;
    };
    N2 = item(N1, "N2", "Старт", &TForm1::N2Click);
    N3 = item(N1, "N3", "Настройки", &TForm1::N3Click);
    N1->addSeparator()->setObjectName(QStringLiteral("N4"));
    N5 = item(N1, "N5", "Печать", &TForm1::N5Click);
    N1->addSeparator()->setObjectName(QStringLiteral("N6"));
    N7 = item(N1, "N7", "Выход", &TForm1::N7Click);
    // Файл → Экспорт… (behind its separator, after Выход): the export dialog's own item.
    TExportForm::addMenuItem(N1, this);
    N8 = bar->addMenu(QStringLiteral("Вид"));
    N8->setObjectName(QStringLiteral("N8"));
    // The handler inverts the check mark itself, so the menu's own toggle is taken back first.
    N9 = N8->addAction(QStringLiteral("Панель"));
    N9->setObjectName(QStringLiteral("N9"));
    N9->setCheckable(true);
    connect(N9, &QAction::triggered, this, [this] {
        N9->setChecked(!N9->isChecked());
        ui::guarded([this] { N9Click(); });
    });
    N11 = item(N8, "N11", "Запрос", &TForm1::N11Click);
    N12 = item(N8, "N12", "История записи", &TForm1::N12Click);
    N13 = item(N8, "N13", "Нормы", &TForm1::N13Click);
    N14 = item(N8, "N14", "История пациента", &TForm1::N14Click);
    N15 = item(N8, "N15", "Найти", &TForm1::N15Click);
    N16 = item(N8, "N16", "Обновить", &TForm1::N16Click);
    // Shown beside their items; the window takes them wherever the focus is inside it.
    N5->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    N14->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    N15->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    N16->setShortcut(QKeySequence(Qt::Key_F5));
    // A top-level command without items.
    N10 = bar->addAction(QStringLiteral("Справка"));
    N10->setObjectName(QStringLiteral("N10"));
    connect(N10, &QAction::triggered, this, [this] { ui::guarded([this] { N10Click(); }); });
    // A pop-up is a window of its own and does not take the window's font by itself.
    for (QMenu* menu : {N1, N8})
        menu->setFont(bar->font());
}

void TForm1::buildPanel()
{
    GroupBox1 = new TRecordPanel(client_);
    GroupBox1->setGeometry(408, 128, 329, 393);
    GroupBox1->hide();

    std::vector<std::pair<int, QWidget*>> order;
    for (const PanelEdit& pe : kPanelEdits) {
        auto* edit = new TDBEdit(DataSource1, QString::fromLatin1(pe.field), GroupBox1);
        edit->setGeometry(pe.x, pe.y, pe.width, 21);
        order.emplace_back(pe.tab, edit);
        if (pe.label) {
            auto* label = new QLabel(QString::fromUtf8(pe.label), GroupBox1);
            label->move(pe.labelX, pe.labelY);
            label->resize(label->sizeHint().width(), 13);
        }
    }
    Button1 = new QPushButton(QStringLiteral("Печать"), GroupBox1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(48, 352, 43, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { ui::guarded([this] { Button1Click(); }); });
    order.emplace_back(29, Button1);
    DBNavigator1 = new TDBNavigator(DataSource1, GroupBox1);
    DBNavigator1->setGeometry(88, 352, 222, 25);
    DBNavigator1->setBeforeAction([this] { updateRecordFromEdits(); });
    order.emplace_back(0, DBNavigator1);
    Label18 = new QLabel(GroupBox1);
    Label18->setObjectName(QStringLiteral("Label18"));
    Label18->move(128, 0);
    Label18->resize(60, 13);

    std::sort(order.begin(), order.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1].second, order[i].second);

    // A value is marked as it is shown or typed, and all of them when the age changes.
    for (TDBEdit* e : GroupBox1->findChildren<TDBEdit*>())
        if (reading::ReferenceRanges::indexOf(e->DataField()) >= 0 || e->DataField() == QLatin1String("DOC"))
            connect(e, &QLineEdit::textChanged, this, &TForm1::markPanel);
}

void TForm1::markPanel()
{
    if (!ranges_)
        return;
    const TDBEdit* doc = editFor(QStringLiteral("DOC"));
    const std::optional<double> age = reading::ageInYears(doc ? doc->text() : QString());
    for (TDBEdit* e : GroupBox1->findChildren<TDBEdit*>()) {
        const int value = reading::ReferenceRanges::indexOf(e->DataField());
        if (value < 0)
            continue;
        const reading::Flag f = reading::flagAt(*ranges_, value, e->text(), age);
        e->setMark(TDataSetGridModel::flagColor(f), reading::marker(f));
    }
}

QString TForm1::rangesFile() const { return ProgramFolder + QLatin1String(reading::ReferenceRanges::kFileName); }

void TForm1::setRanges(const reading::ReferenceRanges& ranges)
{
    ranges_ = std::make_shared<const reading::ReferenceRanges>(ranges);
    DBGrid1->gridModel()->setRanges(ranges_);
    markPanel();
    if (patient_)
        patient_->setRanges(ranges);
}

void TForm1::updateRecordFromEdits()
{
    for (TDBEdit* e : GroupBox1->findChildren<TDBEdit*>())
        e->UpdateRecord();
    DBGrid1->commitEditor();
}

TDBEdit* TForm1::editFor(const QString& fieldName) const
{
    for (TDBEdit* e : GroupBox1->findChildren<TDBEdit*>())
        if (e->DataField().compare(fieldName, Qt::CaseInsensitive) == 0)
            return e;
    return nullptr;
}

QString TForm1::ReadINI(const QString& section, const QString& key) const
{
    return IniFile(ProgramFolder + QLatin1String(startup::kSettingsFile)).readString(section, key, QStringLiteral("ERROR"));
}

void TForm1::WriteINI(const QString& section, const QString& key, const QString& value) const
{
    IniFile(ProgramFolder + QLatin1String(startup::kSettingsFile)).writeString(section, key, value);
}

void TForm1::FormCreate()
{
    ProgramFolder = startup::programFolderOf(startup::executablePath());
    PortName = ReadINI(QStringLiteral("MAIN"), QStringLiteral("Port"));
    Rate = ReadINI(QStringLiteral("MAIN"), QStringLiteral("Rate"));
    DatabasePath = ReadINI(QStringLiteral("MAIN"), QStringLiteral("Path1"));

    // The receiver and the import exist from start-up; nothing arrives before Start.
    // Nothing else makes the folder the receiver writes into.
    if (!QDir().mkpath(capture::tempFolder(ProgramFolder)))
        ui::showError(QStringLiteral("Cannot create the folder %1: results from the analyser cannot be stored.")
                          .arg(capture::tempFolder(ProgramFolder)));
    // The line log keeps what crossed the line for diagnosis; an ACK is logged once it is sent.
    lineLog_ = std::make_unique<LineLog>(ProgramFolder, [this](const QString& m) { showErrorLater(m); });
    QString retention;
    const QString archiveDays = IniFile(ProgramFolder + QLatin1String(startup::kSettingsFile))
                                    .readString(QStringLiteral("MAIN"), QStringLiteral("ArchiveDays"), QString());
    const int keepDays = LineLog::keepDays(archiveDays, &retention);
    lineLog_->prune(keepDays, QDate::currentDate());
    if (!retention.isEmpty())
        showErrorLater(retention);
    receiver_ = std::make_unique<FrameReceiver>(
        ProgramFolder,
        [this] {
            link_->SendAck();
            static const char ack = 0x06;
            lineLog_->record(LineLog::Direction::Out, &ack, 1);
        },
        [this](const QString& m) { showErrorLater(m); });
    // A message too long to import is kept in Temp/rejected/ by the reader thread, which archives
    // it through an archive object of its own.
    receiverArchive_ = std::make_unique<audit::MessageArchive>(ProgramFolder);
    receiver_->setOnSetAside([this](const QByteArray& bytes, const QDateTime& enq, const QString& keptAs,
                                    const QString& reason) {
        audit::ReceivedMessage m;
        m.bytes = bytes;
        m.enq = enq;
        m.end = QDateTime::currentDateTime();
        m.capture = QFileInfo(keptAs).fileName();
        // On a server the archive is its table, written beside the window like the rows.
        if (importThread_) {
            importThread_->setAside(m, reason);
            return;
        }
        try {
            receiverArchive_->archive(m, audit::MessageArchive::Outcome::Rejected, {}, 0, reason);
        } catch (const audit::AuditError& e) {
            showErrorLater(QStringLiteral("A message set aside as %1 is not archived: %2").arg(keptAs, e.text()));
        }
    });
    link_ = std::make_unique<SerialLink>([this](const char* d, int n) {
        lineLog_->record(LineLog::Direction::In, d, n);
        receiver_->receive(d, n);
    });
    const QString database = storechoice::databaseSetting(ProgramFolder);
    store_ = storechoice::open(ProgramFolder, database, Query1);
    if (database.isEmpty()) {
        import_ = std::make_unique<MessageImport>(
            ProgramFolder, *store_, [this](const QString& m) { showErrorLater(m); }, [this] { refreshAfterImport(); });

        // The audit trail first: rows of an older table are adopted and changes a stopped program
        // left half made are resolved before anyone can change a row again.
        try {
            const ResultStore::AuditOpened opened = store_->openAudit(keepDays);
            for (const QString& m : opened.notApplied)
                showErrorLater(m);
            if (opened.adopted > 0)
                statusBar()->showMessage(QStringLiteral("The audit trail begins: %1 rows already in the table are entered "
                                                        "as present before it.")
                                             .arg(opened.adopted));
        } catch (const Exception& e) {
            showErrorLater(e.message());
        }
    } else {
        startServerImport(database, keepDays);
    }
    // The limits before the rows, so that the first paint flags; a file that does not read is
    // said in the status bar and the lines that do read still apply.
    QStringList rangeProblems;
    setRanges(reading::ReferenceRanges::load(rangesFile(), &rangeProblems));
    if (!rangeProblems.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("Нормы: %1").arg(rangeProblems.join(QStringLiteral("; "))));
        for (const QString& p : rangeProblems)
            qWarning("Reference limits: %s", qUtf8Printable(p));
    }
    store_->attachRows(*Table1);
    if (import_) {
        Table1->Open();
    } else {
        // A server away at start: the window comes up empty and the rows open when it answers.
        // The data set names itself in the error and no longer tells the store away from others;
        // on a server any failure to open waits for the server in the same way.
        try {
            Table1->Open();
        } catch (const EDatabaseError& e) {
            sayStoreAway(e.message());
        }
    }
    if (Table1->Active())
        showAccess();
    if (import_)
        startTrailCheck();
    // The index of numbers and names is made ready beside the window; until then a find reads
    // the rows itself.
    store_->openFinder();
    indexTimer_ = new QTimer(this);
    indexTimer_->setInterval(300);
    connect(indexTimer_, &QTimer::timeout, this, [this] {
        if (store_->finder().ready()) {
            indexTimer_->stop();
            if (statusBar()->currentMessage().startsWith(QStringLiteral("Индекс поиска")))
                statusBar()->clearMessage();
        } else if (statusBar()->currentMessage().isEmpty()
                   || statusBar()->currentMessage().startsWith(QStringLiteral("Индекс поиска"))) {
            statusBar()->showMessage(QStringLiteral("Индекс поиска строится: %1%").arg(store_->finder().buildPercent()));
        }
    });
    indexTimer_->start();

    const QIcon icon = QApplication::windowIcon().isNull() ? applicationIcon() : QApplication::windowIcon();
    tray_ = std::make_unique<TrayIcon>(this, icon, startup::applicationTitleOf(startup::executablePath()));
    connect(tray_.get(), &TrayIcon::message, this, [this](int msg) { TrayMessage(msg); });
    tray_->add();
}

void TForm1::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    // Runs on every change from hidden to shown, not when the window system merely re-exposes it.
    if (!e->spontaneous())
        ui::guarded([this] { FormShow(); });
}

void TForm1::FormShow()
{
    // The move to the last row would post the row without what the panel still holds.
    if (!writePendingEdits())
        return;
    // Rows on a server away at start open when it answers.
    if (importThread_ && !Table1->Active())
        return;
    Table1->Last();
    DBGrid1->showCurrentRow();
}

void TForm1::Table1AfterScroll()
{
    Label18->setText(QString::number(Table1->RecNo()));
    Label18->resize(Label18->sizeHint().width(), 13);
}

void TForm1::TrayMessage(int mouseMessage)
{
    if (mouseMessage == TrayIcon::kLeftButtonDown) {
        show();
        raise();
        activateWindow();
    } else if (mouseMessage == TrayIcon::kRightButtonDown) {
        hideToTray();
    }
}

void TForm1::N2Click()
{
    if (readOnly_)
        return;
    if (link_->Start(PortName)) {
        Timer1->start();
        if (importThread_)
            importThread_->setImporting(true);
    }
}

void TForm1::N3Click() { Form2->exec(); }

void TForm1::N5Click() { Form3->Preview(); }

void TForm1::N7Click() { Form4->exec(); }

void TForm1::N9Click()
{
    N9->setChecked(!N9->isChecked());
    GroupBox1->setVisible(N9->isChecked());
    if (GroupBox1->isVisible())
        GroupBox1->raise();
}

void TForm1::DBGrid1MouseUp(Qt::MouseButton button)
{
    if (button == Qt::RightButton)
        N9Click();
}

void TForm1::N10Click() { Form5->exec(); }

void TForm1::N11Click() { Form6->exec(); }

void TForm1::N12Click()
{
    // What is typed goes into the row first, so that its history shows it.
    if (!writePendingEdits())
        return;
    if (!history_) {
        history_ = new TForm8(this);
        if (readOnly_)
            new KeepOff(history_->RestoreButton);
    }
    history_->ShowRecord(Table1->Active() ? Table1->RecNo() : 0);
}

void TForm1::N15Click() { findBar_->open(); }

void TForm1::N16Click()
{
    if (!writePendingEdits())
        return;
    Table1->Refresh();
    DBGrid1->viewport()->update();
}

QString TForm1::findRow(const QString& text, bool backward)
{
    if (!Table1->Active() || !writePendingEdits())
        return {};
    // Until the index is ready the rows are read here: the status bar says how far.
    const auto progress = [this](int percent) {
        statusBar()->showMessage(QStringLiteral("Поиск: %1%").arg(percent));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return true;
    };
    const std::optional<RowFinder::Match> found = store_->finder().find(text, Table1->RecNo(), backward, progress);
    if (statusBar()->currentMessage().startsWith(QStringLiteral("Поиск: ")))
        statusBar()->clearMessage();
    if (!found)
        return QStringLiteral("не найдено");
    goToRecord(found->record);
    return found->wrapped ? QStringLiteral("продолжено сначала") : QString();
}

void TForm1::goToRecord(int record)
{
    if (!writePendingEdits())
        return;
    // Rows another program stored since the last refresh are known to the index before the grid.
    if (Table1->RowOfRecNo(record) < 0)
        Table1->Refresh();
    Table1->SetRecNo(record);
    DBGrid1->showCurrentRow();
}

void TForm1::N14Click()
{
    if (!writePendingEdits() || !Table1->Active())
        return;
    const QString name = Table1->RecNo() > 0 ? Table1->FieldByName(QStringLiteral("FIO"))->AsString() : QString();
    if (!patient_) {
        patient_ = new TForm9(*ranges_, this);
        connect(patient_, &TForm9::recordChosen, this, [this](int record) { ui::guarded([&] { goToRecord(record); }); });
    }
    patient_->showRows(name, {});
    patient_->show();
    patient_->raise();
    // Until the index is ready the rows are read here: the window says how far.
    RowFinder& finder = store_->finder();
    const QList<int> records = finder.patientRecords(name, [this](int percent) {
        patient_->setScanning(percent);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return true;
    });
    QList<reading::HistoryRow> rows;
    for (int record : records)
        if (const audit::RowValues values = finder.valuesAt(record); !values.isEmpty())
            rows.append(reading::historyRowOf(record, values));
    patient_->setScanning(100);
    patient_->showRows(name, rows);
}

void TForm1::N13Click()
{
    TRangesForm form(*ranges_, this);
    form.setOnSave([this](const reading::ReferenceRanges& r) {
        r.save(rangesFile());
        setRanges(r);
    });
    form.exec();
}

void TForm1::Button1Click() { Form3->Preview(); }

void TForm1::Timer1Timer()
{
    if (import_)
        import_->onTimer(*Timer1);
    else if (importThread_)
        importThread_->kick();
}

void TForm1::refreshAfterImport()
{
    // What is typed but not yet written goes into the row before the refresh posts it.
    for (TDBEdit* e : GroupBox1->findChildren<TDBEdit*>())
        ui::guarded([e] { e->UpdateRecord(); });
    DBGrid1->commitEditor();
    DBGrid1->viewport()->update();
    Table1->Refresh();
}

void TForm1::startServerImport(const QString& database, int keepDays)
{
    // The window's own calls wait at most this long for the server; the import waits beside it.
    constexpr int kWindowAnswerMs = 500;
    auto& store = static_cast<PgResultStore&>(*store_);
    store.setAnswerWithin(kWindowAnswerMs);
    // While a report's rows are read beside the window it keeps painting; what is typed or
    // clicked waits, as it would for the dBase table's query.
    store.setWhileWaiting([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10); });
    const QString folder = ProgramFolder;
    // The import may wait, but not on a server that vanished without closing its sockets (the
    // system would take many minutes to notice): half a minute, then the store is away.
    constexpr int kImportAnswerMs = 30000;
    importThread_ = std::make_unique<ImportThread>(
        folder,
        [folder, database] {
            auto made = storechoice::open(folder, database);
            static_cast<PgResultStore&>(*made).setAnswerWithin(kImportAnswerMs);
            return made;
        },
        keepDays);
    ImportThread* thread = importThread_.get();
    connect(thread, &ImportThread::stored, this, [this] { ui::guarded([this] { refreshAfterImport(); }); });
    connect(thread, &ImportThread::error, this, [](const QString& m) { ui::showError(m); });
    // The trail is checked once the server has answered: a check of a server away would only
    // say that it cannot be read.
    connect(thread, &ImportThread::auditOpened, this, [this](qint64, const QStringList& notApplied) {
        for (const QString& m : notApplied)
            ui::showError(m);
        startTrailCheck();
    });
    // An outage is said in the status bar, not in a box: an unattended PC goes on receiving, the
    // messages wait in Temp, and the import resumes by itself.
    connect(thread, &ImportThread::storeAway, this, [this](const QString& why) {
        sayStoreAway(why);
    });
    connect(thread, &ImportThread::storeBack, this, [this] {
        storeAway_.clear();
        statusBar()->showMessage(QStringLiteral("Сервер базы данных снова доступен."), 10000);
        storeAnswersAgain();
    });
    // Rows other programs store or change appear as they commit, without a refresh that would
    // post what is being typed; after the listener was away everything shown is read anew.
    rowsListener_ = new PgListener(database, kWindowAnswerMs, 2000, this);
    connect(rowsListener_, &PgListener::rowsChanged, this, [this](qint64 first, qint64 last) {
        ui::guarded([&] {
            if (Table1->Active())
                Table1->TakeChangedRecords(int(first), int(last));
        });
    });
    // At the first connection only rows appended since the table was read can be missing: the
    // grid just read the rest.
    connect(rowsListener_, &PgListener::missed, this, [this](bool lost) {
        ui::guarded([&] {
            if (Table1->Active())
                Table1->TakeChangedRecords(lost ? 1 : Table1->RecordsInFile() + 1, std::numeric_limits<int>::max());
        });
    });
    rowsListener_->start();
    storeTimer_ = new QTimer(this);
    storeTimer_->setInterval(2000);
    connect(storeTimer_, &QTimer::timeout, this, [this] {
        importThread_->kick();
        // The window's rows may have missed the server on their own while the import did not.
        if (!importThread_->away() && static_cast<PgResultStore&>(*store_).rowsOffline())
            storeAnswersAgain();
    });
    storeTimer_->start();
    thread->kick();  // the audit trail at once, before Start
}

void TForm1::sayStoreAway(const QString& why)
{
    storeAway_ = why;
    // What to do first, then why (libpq's first line; the rest repeats the advice).
    statusBar()->showMessage(QStringLiteral("Сервер базы данных недоступен; результаты ждут в папке Temp и будут "
                                            "сохранены, когда он ответит. %1")
                                 .arg(why.section(QLatin1Char('\n'), 0, 0)));
}

void TForm1::storeAnswersAgain()
{
    try {
        if (!Table1->Active()) {
            Table1->Open();
            Table1->Last();
            DBGrid1->showCurrentRow();
        } else if (Table1->State() == TDataSet::dsBrowse)
            Table1->Refresh();
        showAccess();
    } catch (const EDatabaseError& e) {
        statusBar()->showMessage(QStringLiteral("Строки с сервера базы данных не прочитаны: %1").arg(e.message()));
    } catch (const Exception& e) {
        ui::showError(e.message());
    }
}

void TForm1::showAccess()
{
    QString user;
    if (!readOnly_ && !store_->writable(&user))
        enterReadOnly(user);
}

void TForm1::enterReadOnly(const QString& user)
{
    readOnly_ = true;
    // Nothing received here could be stored: the port stays closed (and closes, when Start came
    // before the server answered), so that the analyser's own PC keeps it.
    N2->setEnabled(false);
    Timer1->stop();
    if (link_)
        link_->Stop();
    if (importThread_)
        importThread_->setImporting(false);
    DataSource1->AutoEdit = false;
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->installEventFilter(this);
    for (TDBEdit* e : GroupBox1->findChildren<TDBEdit*>())
        e->setReadOnly(true);
    new KeepOff(DBNavigator1->button(TDBNavigator::nbInsert));
    new KeepOff(DBNavigator1->button(TDBNavigator::nbDelete));
    if (history_)
        new KeepOff(history_->RestoreButton);
    // A label of its own: the passing messages (the index, the trail's check) do not cover it.
    auto* label = new QLabel(QStringLiteral("Только просмотр: у пользователя базы данных «%1» нет права изменять результаты.")
                                 .arg(user),
                             statusBar());
    label->setObjectName(QStringLiteral("ReadOnlyLabel"));
    statusBar()->addPermanentWidget(label);
}

bool TForm1::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == DBGrid1 && readOnly_ && e->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Delete && (key->modifiers() & Qt::ControlModifier))
            return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

void TForm1::closeProgram()
{
    if (!writePendingEdits())
        return;
    closing_ = true;
    close();
}

void TForm1::hideToTray()
{
    if (writePendingEdits())
        hide();
}

bool TForm1::writePendingEdits()
{
    return ui::guarded([this] {
        updateRecordFromEdits();
        if (!Table1->Active())
            return;
        const TDataSet::TDataSetState state = Table1->State();
        if (state == TDataSet::dsEdit || state == TDataSet::dsInsert) {
            if (Table1->Modified())
                Table1->Post();
            else
                Table1->Cancel();
        }
    });
}

void TForm1::showErrorLater(const QString& message)
{
    QMetaObject::invokeMethod(this, [message] { ui::showError(message); }, Qt::QueuedConnection);
}

void TForm1::closeEvent(QCloseEvent* e)
{
    // Only the exit dialog ends the program; the window has no close button of its own.
    if (!closing_) {
        e->ignore();
        return;
    }
    FormClose();
    e->accept();
    // A report preview waits in its own loop for its window; closed, it lets the program end.
    TRpReportSessions::CloseAll();
    QApplication::quit();
}

void TForm1::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    Timer1->stop();
    if (storeTimer_)
        storeTimer_->stop();
    if (link_)
        link_->Stop();
    if (tray_)
        tray_->remove();
}

#include "app/Unit8.h"

#include "app/DBGrid.h"
#include "app/ErrorBox.h"
#include "app/Unit1.h"
#include "audit/RecordStory.h"
#include "engine/DataSet.h"
#include "link/RecordStoryText.h"
#include "store/ResultStore.h"

#include <QDateEdit>
#include <QDateTime>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

QTableWidget* makeGrid(const QStringList& titles, QWidget* parent)
{
    auto* grid = new QTableWidget(0, int(titles.size()), parent);
    grid->setHorizontalHeaderLabels(titles);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setWordWrap(false);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->horizontalHeader()->setHighlightSections(false);
    return grid;
}

// A short list: every column as wide as what it holds, the last one filling the rest.
void fitColumns(QTableWidget* grid)
{
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grid->horizontalHeader()->setSectionResizeMode(grid->columnCount() - 1, QHeaderView::Stretch);
}

void setRow(QTableWidget* grid, int row, const QStringList& texts)
{
    for (int c = 0; c < texts.size(); ++c)
        grid->setItem(row, c, new QTableWidgetItem(texts[c]));
}

QLabel* makeNote(QWidget* parent)
{
    auto* note = new QLabel(parent);
    note->setWordWrap(true);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return note;
}

QWidget* titled(const QString& title, std::initializer_list<QWidget*> widgets, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    auto* layout = new QVBoxLayout(box);
    for (QWidget* w : widgets)
        layout->addWidget(w);
    return box;
}

void fillTrace(QTableWidget* grid, QLabel* note, const linetrace::Trace& trace)
{
    const QList<storytext::TraceRow> rows = storytext::traceRows(trace);
    grid->setRowCount(0);
    grid->setRowCount(int(rows.size()));
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (int r = 0; r < rows.size(); ++r) {
        const storytext::TraceRow& row = rows[r];
        setRow(grid, r, {row.time, row.direction, row.frames, row.bytes});
        grid->item(r, 3)->setFont(fixed);
        if (row.bad)
            for (int c = 0; c < grid->columnCount(); ++c)
                grid->item(r, c)->setBackground(QColor(255, 205, 205));
    }
    // The bytes come last, as wide as the longest read: a long one runs out of sight (the grid
    // scrolls sideways), not the verdicts.
    grid->horizontalHeader()->setStretchLastSection(false);
    grid->resizeColumnsToContents();
    grid->scrollToTop();
    QStringList notes = trace.notes;
    if (const QString summary = storytext::traceSummary(trace); !summary.isEmpty())
        notes.prepend(summary);
    note->setText(notes.join(QLatin1Char('\n')));
    note->setVisible(!notes.isEmpty());
}

const QStringList kTraceTitles = {QStringLiteral("Время"), QStringLiteral("Направление"), QStringLiteral("Кадры"),
                                  QStringLiteral("Байты")};

} // namespace

TForm8::TForm8(TForm1* owner) : QDialog(owner), owner_(owner)
{
    setObjectName(QStringLiteral("Form8"));
    setWindowTitle(QStringLiteral("История записи"));
    setFont(owner->font());
    setModal(false);
    resize(980, 720);

    Tabs = new QTabWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Tabs);

    // Tab "Запись".
    auto* recordTab = new QWidget(Tabs);
    RecordEdit = new QSpinBox(recordTab);
    RecordEdit->setObjectName(QStringLiteral("RecordEdit"));
    RecordEdit->setRange(1, INT_MAX);
    ShowButton = new QPushButton(QStringLiteral("Показать"), recordTab);
    ShowButton->setObjectName(QStringLiteral("ShowButton"));
    RestoreButton = new QPushButton(QStringLiteral("Восстановить"), recordTab);
    RestoreButton->setObjectName(QStringLiteral("RestoreButton"));
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Запись №"), recordTab));
    bar->addWidget(RecordEdit);
    bar->addWidget(ShowButton);
    bar->addStretch();
    bar->addWidget(RestoreButton);

    OriginLabel = makeNote(recordTab);
    OriginLabel->setObjectName(QStringLiteral("OriginLabel"));
    ResendsLabel = makeNote(recordTab);
    ResendsLabel->setObjectName(QStringLiteral("ResendsLabel"));
    TraceGrid = makeGrid(kTraceTitles, recordTab);
    TraceGrid->setObjectName(QStringLiteral("TraceGrid"));
    TraceNote = makeNote(recordTab);
    ChangesGrid = makeGrid({QStringLiteral("Время"), QStringLiteral("Пользователь"), QStringLiteral("Компьютер"),
                            QStringLiteral("Изменение"), QStringLiteral("Состояние")},
                           recordTab);
    ChangesGrid->setObjectName(QStringLiteral("ChangesGrid"));
    fitColumns(ChangesGrid);
    auto* split = new QSplitter(Qt::Vertical, recordTab);
    split->addWidget(titled(QStringLiteral("Линия"), {TraceGrid, TraceNote}, split));
    split->addWidget(titled(QStringLiteral("Изменения"), {ChangesGrid}, split));
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    auto* recordLayout = new QVBoxLayout(recordTab);
    recordLayout->addLayout(bar);
    recordLayout->addWidget(titled(QStringLiteral("Происхождение"), {OriginLabel, ResendsLabel}, recordTab));
    recordLayout->addWidget(split, 1);
    Tabs->addTab(recordTab, QStringLiteral("Запись"));

    // Tab "Архив за день".
    auto* dayTab = new QWidget(Tabs);
    DayEdit = new QDateEdit(dayTab);
    DayEdit->setObjectName(QStringLiteral("DayEdit"));
    DayEdit->setCalendarPopup(true);
    DayEdit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    DayGrid = makeGrid({QStringLiteral("Время"), QStringLiteral("Проба"), QStringLiteral("Итог"), QStringLiteral("Запись")},
                       dayTab);
    DayGrid->setObjectName(QStringLiteral("DayGrid"));
    fitColumns(DayGrid);
    DayTraceGrid = makeGrid(kTraceTitles, dayTab);
    DayTraceGrid->setObjectName(QStringLiteral("DayTraceGrid"));
    DayTraceNote = makeNote(dayTab);
    auto* dayBar = new QHBoxLayout;
    dayBar->addWidget(new QLabel(QStringLiteral("День"), dayTab));
    dayBar->addWidget(DayEdit);
    dayBar->addStretch();
    auto* daySplit = new QSplitter(Qt::Vertical, dayTab);
    daySplit->addWidget(DayGrid);
    daySplit->addWidget(titled(QStringLiteral("Линия"), {DayTraceGrid, DayTraceNote}, daySplit));
    daySplit->setStretchFactor(0, 1);
    daySplit->setStretchFactor(1, 2);
    auto* dayLayout = new QVBoxLayout(dayTab);
    dayLayout->addLayout(dayBar);
    dayLayout->addWidget(daySplit, 1);
    Tabs->addTab(dayTab, QStringLiteral("Архив за день"));

    connect(ShowButton, &QPushButton::clicked, this, [this] { ui::guarded([this] { ShowButtonClick(); }); });
    connect(RecordEdit, &QSpinBox::editingFinished, this, [this] {
        if (RecordEdit->value() != record_)
            ui::guarded([this] { ShowButtonClick(); });
    });
    connect(RestoreButton, &QPushButton::clicked, this, [this] { RestoreButtonClick(); });
    connect(DayEdit, &QDateEdit::dateChanged, this, [this] { ui::guarded([this] { DayEditChange(); }); });
    connect(DayGrid, &QTableWidget::currentCellChanged, this, [this] { ui::guarded([this] { DayGridSelect(); }); });
    connect(DayGrid, &QTableWidget::cellDoubleClicked, this, [this] { ui::guarded([this] { DayGridDoubleClick(); }); });
    DayEdit->setDate(QDate::currentDate());
}

QString TForm8::folder() const { return owner_->store() ? owner_->store()->auditFolder() : QString(); }

void TForm8::ShowRecord(int record)
{
    record_ = record = std::max(record, 1);
    {
        const QSignalBlocker quiet(RecordEdit);
        RecordEdit->setValue(record);
    }
    setWindowTitle(QStringLiteral("История записи №%1").arg(record));
    ResultStore* store = owner_->store();
    audit::RecordStory story;
    story.record = record;
    // A store elsewhere may be away: the window then shows no story, and says why.
    if (store)
        ui::guarded([&] { story = store->storyOf(record); });
    TTable* table = owner_->Table1;
    const bool open = table->Active();
    const bool inTable = open && record <= table->RecordsInFile();
    const bool deleted = inTable && table->RecordDeleted(record);

    QString name = storytext::originName(story.origin);
    name[0] = name[0].toUpper();
    QStringList origin{name};
    if (open && !inTable)
        origin << QStringLiteral("Записи №%1 в таблице нет.").arg(record);
    if (deleted || story.deletedEntry != 0)
        origin << QStringLiteral("Запись удалена.");
    linetrace::Trace trace;
    if (story.origin == audit::RecordStory::Origin::Message) {
        const storytext::Message m = storytext::messageOf(story.originEntry);
        for (const auto& [label, text] : storytext::messageFacts(m))
            origin << label + QStringLiteral(": ") + text;
        trace = storytext::traceOf(folder(), m);
        const QSignalBlocker quiet(DayEdit);
        DayEdit->setDate(m.time.date());
    } else if (!story.originEntry.isEmpty()) {
        const storytext::ChangeRow entry = storytext::changeRows({story.originEntry}).value(0);
        origin << QStringLiteral("%1, %2 на %3").arg(entry.time, entry.user, entry.host);
    }
    OriginLabel->setText(origin.join(QLatin1Char('\n')));

    QStringList resends;
    for (const QJsonObject& e : story.resends) {
        const storytext::Message m = storytext::messageOf(e);
        resends << QStringLiteral("Результат получен снова: ENQ %1, файл %2")
                       .arg((m.enq.isValid() ? m.enq : m.time).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")), m.capture);
    }
    ResendsLabel->setText(resends.isEmpty() ? QStringLiteral("Повторов результата не было.") : resends.join(QLatin1Char('\n')));

    fillTrace(TraceGrid, TraceNote, trace);

    const QList<storytext::ChangeRow> changes = storytext::changeRows(story.history);
    ChangesGrid->setRowCount(0);
    ChangesGrid->setRowCount(int(changes.size()));
    for (int r = 0; r < changes.size(); ++r) {
        const storytext::ChangeRow& c = changes[r];
        setRow(ChangesGrid, r, {c.time, c.user, c.host, c.what, c.state});
    }

    RestoreButton->setEnabled(deleted || story.deletedEntry != 0);
    DayEditChange();
    show();
    raise();
    activateWindow();
}

void TForm8::ShowButtonClick() { ShowRecord(RecordEdit->value()); }

void TForm8::RestoreButtonClick()
{
    const int record = record_;
    const bool restored = ui::guarded([&] { owner_->store()->restore(record); });
    // Refreshed whatever the answer: another program may have changed the row meanwhile.
    ui::guarded([&] {
        owner_->Table1->Refresh();
        if (!restored)
            return;
        // The grid hides a row it found deleted for as long as it is open; this one is back.
        TDBGrid* grid = owner_->DBGrid1;
        if (grid->gridModel()->recNoOfRow(record - 1) == record)
            grid->setRowHidden(record - 1, false);
        owner_->Table1->SetRecNo(record);
    });
    ShowRecord(record);
}

void TForm8::DayEditChange()
{
    day_.clear();
    if (ResultStore* store = owner_->store())
        ui::guarded([&] { day_ = store->messagesOfDay(DayEdit->date()); });
    const QSignalBlocker quiet(DayGrid);
    DayGrid->setRowCount(0);
    DayGrid->setRowCount(int(day_.size()));
    int current = -1;
    for (int r = 0; r < day_.size(); ++r) {
        const storytext::Message m = storytext::messageOf(day_[r]);
        setRow(DayGrid, r, storytext::dayRow(m));
        if (current < 0 && m.record == record_)
            current = r;
    }
    DayGrid->setCurrentCell(current, 0);
    DayGridSelect();
}

void TForm8::DayGridSelect()
{
    const int row = DayGrid->currentRow();
    if (row < 0 || row >= day_.size()) {
        fillTrace(DayTraceGrid, DayTraceNote, {});
        return;
    }
    fillTrace(DayTraceGrid, DayTraceNote, storytext::traceOf(folder(), storytext::messageOf(day_[row])));
}

void TForm8::DayGridDoubleClick()
{
    const int row = DayGrid->currentRow();
    const int record = row >= 0 && row < day_.size() ? storytext::messageOf(day_[row]).record : 0;
    if (record > 0) {
        Tabs->setCurrentIndex(0);
        ShowRecord(record);
    }
}

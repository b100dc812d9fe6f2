#include "app/Unit9.h"

#include "app/DBGrid.h"
#include "app/RangesForm.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QProgressBar>
#include <QSplitter>
#include <QTableWidget>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using reading::ReferenceRanges;

namespace {

constexpr int kLeadColumns = 4;  // date, time, sample number, age

// The value charted by the last window: a window made again starts on it.
int lastChosenField = -1;

QString dateText(const QDate& d) { return d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : QString(); }

} // namespace

TForm9::TForm9(const ReferenceRanges& ranges, QWidget* parent) : QDialog(parent), ranges_(ranges)
{
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("История пациента"));
    if (parent)
        setFont(parent->font());
    setModal(false);
    resize(1100, 760);

    NameLabel = new QLabel(this);
    NameLabel->setObjectName(QStringLiteral("NameLabel"));
    QFont bold = NameLabel->font();
    bold.setBold(true);
    NameLabel->setFont(bold);
    NameLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setRange(0, 100);
    Progress->setFormat(QStringLiteral("Поиск записей пациента: %p%"));
    Progress->setMinimumWidth(Progress->fontMetrics().horizontalAdvance(Progress->format()) + 60);
    Progress->hide();
    auto* top = new QHBoxLayout;
    top->addWidget(NameLabel, 1);
    top->addWidget(Progress);

    QStringList titles = {QStringLiteral("Дата"), QStringLiteral("Время"), QStringLiteral("Номер"), QStringLiteral("Возраст")};
    for (const QString& f : ReferenceRanges::fields())
        titles << TRangesForm::valueLabel(f);
    Grid = new QTableWidget(0, int(titles.size()), this);
    Grid->setObjectName(QStringLiteral("Grid"));
    Grid->setHorizontalHeaderLabels(titles);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid->setWordWrap(false);
    Grid->verticalHeader()->hide();
    Grid->verticalHeader()->setDefaultSectionSize(Grid->fontMetrics().height() + 4);
    Grid->horizontalHeader()->setHighlightSections(false);

    ValueBox = new QComboBox(this);
    ValueBox->setObjectName(QStringLiteral("ValueBox"));
    for (const QString& f : ReferenceRanges::fields())
        ValueBox->addItem(TRangesForm::valueLabel(f));
    ValueBox->setCurrentIndex(lastChosenField >= 0 ? lastChosenField : ReferenceRanges::indexOf(QStringLiteral("HGB")));
    auto* chooser = new QHBoxLayout;
    chooser->addWidget(new QLabel(QStringLiteral("Показатель:"), this));
    chooser->addWidget(ValueBox);
    chooser->addStretch();

    chart_ = new QChart;
    chart_->legend()->hide();
    chart_->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_ = new QDateTimeAxis(chart_);
    timeAxis_->setFormat(QStringLiteral("dd.MM.yy"));
    valueAxis_ = new QValueAxis(chart_);
    valueAxis_->setLabelFormat(QStringLiteral("%g"));
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    bandLow_ = new QLineSeries(chart_);
    bandHigh_ = new QLineSeries(chart_);
    Band = new QAreaSeries(bandHigh_, bandLow_);
    Band->setObjectName(QStringLiteral("Band"));
    Band->setColor(QColor(120, 200, 120, 70));
    Band->setBorderColor(QColor(90, 170, 90, 160));
    ValueSeries = new QLineSeries;
    ValueSeries->setObjectName(QStringLiteral("ValueSeries"));
    ValueSeries->setPointsVisible(true);
    ValueSeries->setMarkerSize(9);
    QPen line(QColor(30, 70, 160));
    line.setWidth(2);
    ValueSeries->setPen(line);
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(Band), static_cast<QAbstractSeries*>(ValueSeries)}) {
        chart_->addSeries(s);
        s->attachAxis(timeAxis_);
        s->attachAxis(valueAxis_);
    }
    ChartView = new QChartView(chart_, this);
    ChartView->setObjectName(QStringLiteral("ChartView"));
    ChartView->setRenderHint(QPainter::Antialiasing);
    ChartView->setMinimumHeight(260);
    PointLabel = new QLabel(QStringLiteral("Наведите указатель на точку графика, чтобы увидеть дату и номер пробы."), this);
    PointLabel->setObjectName(QStringLiteral("PointLabel"));

    auto* chartBox = new QWidget(this);
    auto* chartLayout = new QVBoxLayout(chartBox);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->addLayout(chooser);
    chartLayout->addWidget(ChartView, 1);
    chartLayout->addWidget(PointLabel);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(Grid);
    split->addWidget(chartBox);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);

    connect(ValueBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        lastChosenField = index;
        fillChart();
    });
    connect(ValueSeries, &QLineSeries::hovered, this, &TForm9::pointHovered);
    connect(Grid, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (row >= 0 && row < lines_.size())
            emit recordChosen(lines_[row].row.record);
    });
    showRows({}, {});
}

int TForm9::chosenField() const { return ValueBox->currentIndex(); }

void TForm9::showRows(const QString& patientName, QList<reading::HistoryRow> rows)
{
    name_ = patientName.trimmed();
    if (name_.isEmpty())
        rows.clear();
    NameLabel->setText(name_.isEmpty() ? QStringLiteral("У записи нет ФИО пациента")
                                       : QStringLiteral("Пациент: %1 — анализов: %2").arg(name_).arg(rows.size()));
    rows_ = std::move(rows);
    fillGrid();
    fillChart();
}

void TForm9::setRanges(const ReferenceRanges& ranges)
{
    ranges_ = ranges;
    fillGrid();
    fillChart();
}

void TForm9::setScanning(int percent)
{
    Progress->setVisible(percent >= 0 && percent < 100);
    Progress->setValue(std::clamp(percent, 0, 100));
}

void TForm9::fillGrid()
{
    lines_ = reading::readHistory(rows_, ranges_);
    Grid->setRowCount(0);
    Grid->setRowCount(int(lines_.size()));
    for (int r = 0; r < lines_.size(); ++r) {
        const reading::HistoryLine& line = lines_[r];
        const QString lead[kLeadColumns] = {dateText(line.row.date), line.row.time, line.row.num, line.row.doc};
        for (int c = 0; c < kLeadColumns; ++c)
            Grid->setItem(r, c, new QTableWidgetItem(lead[c]));
        for (int f = 0; f < ReferenceRanges::kFieldCount; ++f) {
            const reading::HistoryValue& v = line.values[size_t(f)];
            QString text = line.row.values[size_t(f)].trimmed() + reading::marker(v.flag);
            if (v.deltaMarked)
                text += QStringLiteral(" Δ");
            auto* item = new QTableWidgetItem(text);
            if (const QColor c = TDataSetGridModel::flagColor(v.flag); c.isValid())
                item->setForeground(c);
            if (v.deltaMarked) {
                QFont font = item->font();
                font.setBold(true);
                item->setFont(font);
            }
            if (const QString change = reading::changeText(v); !change.isEmpty())
                item->setToolTip(v.deltaMarked ? QStringLiteral("Δ %1 (запись %2)").arg(change).arg(v.changeRecord)
                                               : QStringLiteral("%1 (запись %2)").arg(change).arg(v.changeRecord));
            Grid->setItem(r, kLeadColumns + f, item);
        }
    }
    Grid->resizeColumnsToContents();
}

void TForm9::fillChart()
{
    const int field = chosenField();
    points_ = reading::seriesOf(rows_, field);
    QList<QPointF> xy;
    xy.reserve(points_.size());
    for (const reading::SeriesPoint& p : points_)
        xy << QPointF(double(p.at.toMSecsSinceEpoch()), p.value);
    ValueSeries->replace(xy);
    chart_->setTitle(ValueBox->currentText());

    // The time axis spans the points with a margin; a single point gets a day either side.
    QDateTime from = points_.isEmpty() ? QDateTime(QDate::currentDate(), QTime(0, 0)) : points_.front().at;
    QDateTime to = points_.isEmpty() ? from : points_.back().at;
    const qint64 span = std::max<qint64>(from.secsTo(to), 0);
    const qint64 pad = span > 0 ? std::max<qint64>(span / 20, 3600) : 86400;
    from = from.addSecs(-pad);
    to = to.addSecs(pad);
    timeAxis_->setRange(from, to);
    timeAxis_->setFormat(span > 0 && span < 2 * 86400 ? QStringLiteral("dd.MM hh:mm") : QStringLiteral("dd.MM.yy"));

    double low = 0, high = 1;
    bool any = false;
    auto take = [&](double v) {
        low = any ? std::min(low, v) : v;
        high = any ? std::max(high, v) : v;
        any = true;
    };
    for (const QPointF& p : xy)
        take(p.y());
    const reading::Limits band = reading::chartBand(rows_, field, ranges_);
    if (band.low)
        take(*band.low);
    if (band.high)
        take(*band.high);
    if (!any)
        high = 1;
    const double pad2 = high > low ? (high - low) * 0.08 : std::max(std::abs(high) * 0.1, 1.0);
    const double axisLow = std::max(0.0, low - pad2), axisHigh = high + pad2;
    valueAxis_->setRange(axisLow, axisHigh);
    valueAxis_->applyNiceNumbers();

    // The band runs across the whole time axis; a missing limit is the axis' edge.
    const double x0 = double(from.toMSecsSinceEpoch()), x1 = double(to.toMSecsSinceEpoch());
    const double bandLow = band.low.value_or(valueAxis_->min()), bandHigh = band.high.value_or(valueAxis_->max());
    bandLow_->replace({QPointF(x0, bandLow), QPointF(x1, bandLow)});
    bandHigh_->replace({QPointF(x0, bandHigh), QPointF(x1, bandHigh)});
    Band->setVisible(!band.empty());
}

void TForm9::pointHovered(const QPointF& point, bool state)
{
    if (!state || points_.isEmpty())
        return;
    // The nearest point by time: points of one day lie far apart in milliseconds.
    const auto nearest = std::min_element(points_.cbegin(), points_.cend(), [&](const auto& a, const auto& b) {
        return std::abs(double(a.at.toMSecsSinceEpoch()) - point.x()) < std::abs(double(b.at.toMSecsSinceEpoch()) - point.x());
    });
    const QString text = QStringLiteral("%1, проба %2, запись %3: %4 %5")
                             .arg(nearest->at.toString(QStringLiteral("dd.MM.yyyy hh:mm")), nearest->num)
                             .arg(nearest->record)
                             .arg(ValueBox->currentText())
                             .arg(nearest->value, 0, 'g', 10);
    PointLabel->setText(text);
    QToolTip::showText(QCursor::pos(), text, ChartView);
}

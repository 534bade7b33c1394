#include "history_page.h"

#include "history/history.h"
#include "history/history_csv.h"
#include "history/history_reading.h"
#include "platform/ui/alert_panel.h"
#include "smart/attribute_catalogue.h"
#include "watch/watch.h"
#include "watch/watch_rules.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScatterSeries>
#include <QSplitter>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace zentrova::shell {

namespace {

using history::Range;

enum SeriesId { kTemperature, kValue, kRaw };

QLineSeries* AddSeries(QChart* chart, const QString& name, QColor color, Qt::PenStyle style) {
    auto* series = new QLineSeries;
    series->setName(name);
    QPen pen(color);
    pen.setWidthF(1.6);
    pen.setStyle(style);
    series->setPen(pen);
    // Drawn with OpenGL when there is any: a year is thousands of points.
    chart->addSeries(series);
    return series;
}

QDateTimeAxis* TimeAxis(QChart* chart) {
    auto* axis = new QDateTimeAxis;
    axis->setTickCount(6);
    chart->addAxis(axis, Qt::AlignBottom);
    return axis;
}

QValueAxis* ValueAxis(QChart* chart, Qt::Alignment side, const QString& title) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(axis, side);
    return axis;
}

QChart* NewChart(const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    return chart;
}

// Room above and below what is plotted; a flat line gets a band around it.
void Fit(QValueAxis* axis, const std::vector<QPointF>& points, std::optional<double> also = {}) {
    double low = also.value_or(points.empty() ? 0 : points.front().y());
    double high = low;
    for (const QPointF& p : points)
        low = std::min(low, p.y()), high = std::max(high, p.y());
    const double pad = std::max((high - low) * 0.1, 1.0);
    axis->setRange(std::max(0.0, low - pad), high + pad);
}

// The times a drive entered Watch, as amber marks along the top of a chart.
QScatterSeries* AddWatchMarks(QChart* chart, QDateTimeAxis* time, QValueAxis* values) {
    auto* marks = new QScatterSeries;
    marks->setName(QStringLiteral("Entered Watch"));
    marks->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    marks->setMarkerSize(9);
    marks->setColor(QColor(0xff, 0xc1, 0x07));
    marks->setBorderColor(QColor(0x80, 0x60, 0x00));
    chart->addSeries(marks);
    marks->attachAxis(time);
    marks->attachAxis(values);
    return marks;
}

void PlaceWatchMarks(QScatterSeries* marks, const QValueAxis* values,
                     const std::vector<std::int64_t>& starts, std::int64_t from, std::int64_t to) {
    marks->clear();
    for (const std::int64_t ms : starts)
        if (ms >= from && ms <= to)
            marks->append(double(ms), values->max());
    marks->setVisible(marks->count() > 0);
}

QList<QPointF> List(const std::vector<QPointF>& points) {
    return QList<QPointF>(points.begin(), points.end());
}

} // namespace

HistoryPage::HistoryPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("historyPage"));
    auto* top = new QHBoxLayout;
    sourceBox_ = new QComboBox;
    sourceBox_->setObjectName(QStringLiteral("HistorySource"));
    sourceBox_->addItems(
        {QStringLiteral("This drive"), QStringLiteral("Before serial numbers were read")});
    sourceBox_->setVisible(false);
    top->addWidget(sourceBox_);
    top->addWidget(new QLabel(QStringLiteral("Range:")));
    rangeBox_ = new QComboBox;
    rangeBox_->setObjectName(QStringLiteral("HistoryRange"));
    for (Range r : history::kRanges)
        rangeBox_->addItem(history::RangeName(r), static_cast<int>(r));
    rangeBox_->setCurrentIndex(static_cast<int>(range_));
    top->addWidget(rangeBox_);
    notice_ = new QLabel;
    notice_->setObjectName(QStringLiteral("HistoryNotice"));
    top->addWidget(notice_, 1);
    exportButton_ = new QPushButton(QStringLiteral("Export CSV..."));
    exportButton_->setObjectName(QStringLiteral("HistoryExport"));
    top->addWidget(exportButton_);

    entries_ = new QListWidget;
    entries_->setObjectName(QStringLiteral("HistoryAttributes"));
    entries_->setMinimumWidth(220);

    temperatureChart_ = NewChart(QStringLiteral("Temperature"));
    temperature_ = AddSeries(temperatureChart_, QStringLiteral("Temperature (°C)"),
                             QColor(0xd0, 0x50, 0x20), Qt::SolidLine);
    temperatureTime_ = TimeAxis(temperatureChart_);
    degrees_ = ValueAxis(temperatureChart_, Qt::AlignLeft, QStringLiteral("°C"));
    temperature_->attachAxis(temperatureTime_);
    temperature_->attachAxis(degrees_);

    entryChart_ = NewChart(QString());
    value_ =
        AddSeries(entryChart_, QStringLiteral("Value"), QColor(0x20, 0x60, 0xc0), Qt::SolidLine);
    threshold_ =
        AddSeries(entryChart_, QStringLiteral("Threshold"), QColor(0xc0, 0x20, 0x20), Qt::DashLine);
    raw_ = AddSeries(entryChart_, QStringLiteral("Raw value"), QColor(0x30, 0x90, 0x40),
                     Qt::SolidLine);
    entryTime_ = TimeAxis(entryChart_);
    values_ = ValueAxis(entryChart_, Qt::AlignLeft, QStringLiteral("Value"));
    raws_ = ValueAxis(entryChart_, Qt::AlignRight, QStringLiteral("Raw"));
    for (QLineSeries* s : {value_, threshold_, raw_})
        s->attachAxis(entryTime_);
    value_->attachAxis(values_);
    threshold_->attachAxis(values_);
    raw_->attachAxis(raws_);
    temperatureMarks_ = AddWatchMarks(temperatureChart_, temperatureTime_, degrees_);
    entryMarks_ = AddWatchMarks(entryChart_, entryTime_, raws_);

    const std::pair<QLineSeries*, int> hovered[] = {
        {temperature_, kTemperature}, {value_, kValue}, {raw_, kRaw}};
    for (auto [series, id] : hovered)
        connect(series, &QLineSeries::hovered, this,
                [this, id = id](const QPointF& p, bool inside) { ShowTooltip(id, p, inside); });

    auto* charts = new QSplitter(Qt::Vertical);
    for (QChart* chart : {temperatureChart_, entryChart_}) {
        auto* view = new QChartView(chart);
        view->setRenderHint(QPainter::Antialiasing);
        charts->addWidget(view);
    }
    auto* body = new QSplitter(Qt::Horizontal);
    body->addWidget(entries_);
    body->addWidget(charts);
    body->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(body, 1);

    connect(rangeBox_, &QComboBox::currentIndexChanged, this,
            [this](int i) { SetRange(static_cast<Range>(rangeBox_->itemData(i).toInt())); });
    connect(entries_, &QListWidget::currentRowChanged, this, [this] { OnEntryChosen(); });
    connect(sourceBox_, &QComboBox::currentIndexChanged, this,
            [this](int i) { OnSourceChosen(i); });
    connect(exportButton_, &QPushButton::clicked, this, [this] { ExportCsv(); });
    Redraw();
}

QString HistoryPage::Notice() const {
    return notice_->text();
}

void HistoryPage::ShowDrive(const device::xDEV_INFO* drive) {
    shown_ = drive != nullptr;
    own_ = shown_ ? history::IdentityOf(*drive) : history::Identity{};
    drive_ = own_;
    const history::Store* store = history::history.store.get();
    const QSignalBlocker quiet(sourceBox_);
    sourceBox_->setCurrentIndex(0);
    sourceBox_->setVisible(shown_ && !own_.serial.empty() && store != nullptr && store->IsOpen() &&
                           store->Knows({own_.model, own_.firmware, ""}));
    Reload();
}

void HistoryPage::OnSourceChosen(int index) {
    drive_ = index == 1 ? history::Identity{own_.model, own_.firmware, ""} : own_;
    Reload();
}

void HistoryPage::DriveRead(const history::Identity& drive) {
    if (!shown_ || drive != drive_)
        return;
    // The first reading of a drive brings its list of attributes.
    if (entries_->count() == 0) {
        Reload();
        return;
    }
    model_.Update(history::NowMs());
    Redraw();
}

void HistoryPage::WatchChanged(const history::Identity& drive) {
    if (!shown_ || drive != drive_)
        return;
    LoadWatchStarts();
    Redraw();
}

void HistoryPage::LoadWatchStarts() {
    watchStarts_.clear();
    const history::Store* store = history::history.store.get();
    if (!shown_ || store == nullptr || !store->IsOpen())
        return;
    // Advice periods (the cable's) are no Watch.
    for (const history::WatchRecord& period : store->WatchPeriods(drive_))
        if (const watch::Rule* rule = watch::FindRule(period.reason);
            rule != nullptr && watch::PutsOnWatch(*rule))
            watchStarts_.push_back(period.startedMs);
    std::sort(watchStarts_.begin(), watchStarts_.end());
}

bool HistoryPage::EntryIsCounted() const {
    return !model_.Empty() && watch::RuleFor(kind_, entryId_) != nullptr;
}

std::vector<QPointF> HistoryPage::RawPoints() const {
    if (!EntryIsCounted())
        return model_.Raws();
    std::vector<QPointF> out;
    for (const history::Point& p : model_.Points())
        if (p.entry)
            if (const auto count = watch::RawCount(drive_, kind_, *p.entry))
                out.emplace_back(double(p.takenMs), double(*count));
    return out;
}

void HistoryPage::SetRange(Range range) {
    range_ = range;
    rangeBox_->setCurrentIndex(static_cast<int>(range));
    Reload();
}

void HistoryPage::SelectEntry(std::uint8_t id) {
    for (int row = 0; row < entries_->count(); ++row)
        if (entries_->item(row)->data(Qt::UserRole).toInt() == id)
            entries_->setCurrentRow(row);
}

void HistoryPage::OnEntryChosen() {
    QListWidgetItem* item = entries_->currentItem();
    if (item == nullptr || item->data(Qt::UserRole).toInt() == entryId_)
        return;
    entryId_ = static_cast<std::uint8_t>(item->data(Qt::UserRole).toInt());
    Reload();
}

void HistoryPage::Reload() {
    const history::Store* store = history::history.store.get();
    model_.Clear();
    if (shown_ && store != nullptr && store->IsOpen()) {
        FillEntryList();
        model_.Show(store, drive_, entryId_, range_, history::NowMs());
        LoadWatchStarts();
        raws_->setTitleText(EntryIsCounted() ? QStringLiteral("Raw count") : QStringLiteral("Raw"));
    } else {
        watchStarts_.clear();
        const QSignalBlocker quiet(entries_);
        entries_->clear();
    }
    Redraw();
}

void HistoryPage::FillEntryList() {
    const std::vector<history::Entry> latest =
        history::history.store->LatestEntries(drive_, &kind_);
    const QSignalBlocker quiet(entries_);
    entries_->clear();
    int chosen = 0;
    for (const history::Entry& e : latest) {
        auto* item = new QListWidgetItem(smart::AttributeIdText(e.id) + QLatin1Char(' ') +
                                             history::EntryName(kind_, drive_, e.id),
                                         entries_);
        item->setData(Qt::UserRole, e.id);
        if (e.id == entryId_)
            chosen = entries_->count() - 1;
    }
    if (!latest.empty()) {
        entries_->setCurrentRow(chosen);
        entryId_ = latest[static_cast<std::size_t>(chosen)].id;
    }
}

void HistoryPage::Redraw() {
    const bool empty = model_.Empty();
    notice_->setText(!shown_ ? QStringLiteral("No drive chosen.")
                     : empty ? QStringLiteral("No readings of this drive yet.")
                             : QString());
    exportButton_->setEnabled(shown_ && !empty);
    // The charts wait until the page is seen: a poll behind another page
    // costs no chart work, and showEvent catches up.
    chartsStale_ = !isVisible();
    if (chartsStale_)
        return;

    const std::int64_t now = history::NowMs();
    std::int64_t start = history::RangeStartMs(range_, now);
    if (range_ == Range::All) {
        start = now - 3600 * 1000;
        if (const auto first = model_.Nearest(0))
            start = std::min(start, first->takenMs);
    }
    const std::vector<QPointF> temperatures = model_.Temperatures();
    const std::vector<QPointF> values = model_.Values();
    const std::vector<QPointF> raws = RawPoints();
    // A counter a Watch rule reads is plotted as its count alone: its
    // normalised value says little until far too late.
    const bool counted = EntryIsCounted();
    value_->setVisible(!counted);
    values_->setVisible(!counted);
    raw_->setName(counted ? QStringLiteral("Raw count") : QStringLiteral("Raw value"));
    const QString format = range_ == Range::Day                              ? "HH:mm"
                           : range_ == Range::Week || range_ == Range::Month ? "MMM d"
                                                                             : "yyyy-MM-dd";
    for (QDateTimeAxis* axis : {temperatureTime_, entryTime_}) {
        axis->setFormat(format);
        axis->setRange(QDateTime::fromMSecsSinceEpoch(start), QDateTime::fromMSecsSinceEpoch(now));
    }

    const int columns = std::max(100, temperatureChart_->plotArea().toRect().width());
    const auto thin = [&](const std::vector<QPointF>& points) {
        return List(history::Thinned(points, double(start), double(now), columns));
    };
    temperature_->replace(thin(temperatures));
    value_->replace(thin(values));
    raw_->replace(thin(raws));
    const std::optional<std::int64_t> threshold = model_.Threshold();
    threshold_->clear();
    if (threshold) {
        threshold_->append(double(start), double(*threshold));
        threshold_->append(double(now), double(*threshold));
    }
    threshold_->setVisible(threshold.has_value() && !counted);
    Fit(degrees_, temperatures);
    Fit(values_, values, threshold ? std::optional<double>(*threshold) : std::nullopt);
    Fit(raws_, raws);
    PlaceWatchMarks(temperatureMarks_, degrees_, watchStarts_, start, now);
    PlaceWatchMarks(entryMarks_, raws_, watchStarts_, start, now);
    QListWidgetItem* item = entries_->currentItem();
    entryChart_->setTitle(item != nullptr ? item->text() : QString());
}

void HistoryPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (chartsStale_)
        Redraw();
}

void HistoryPage::ShowTooltip(int series, const QPointF& point, bool inside) {
    const std::optional<history::Point> p = inside ? model_.Nearest(point.x()) : std::nullopt;
    if (!p) {
        QToolTip::hideText();
        return;
    }
    std::optional<double> value;
    QString name;
    if (series == kTemperature && p->temperature)
        value = *p->temperature, name = QStringLiteral("Temperature (°C)");
    else if (series == kValue && p->entry && p->entry->value)
        value = double(*p->entry->value), name = QStringLiteral("Value");
    else if (series == kRaw && p->entry && EntryIsCounted())
        value = double(watch::RawCount(drive_, kind_, *p->entry).value_or(0)),
        name = QStringLiteral("Raw count");
    else if (series == kRaw && p->entry)
        value = history::RawNumber(p->entry->raw), name = QStringLiteral("Raw value");
    if (value)
        QToolTip::showText(QCursor::pos(), history::TooltipText(name, *value, p->takenMs), this);
}

bool HistoryPage::ExportCsv() {
    const history::Store* store = history::history.store.get();
    if (!shown_ || store == nullptr || !store->IsOpen())
        return false;
    QString suggested = QString::fromStdString(drive_.model).simplified();
    suggested.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("-"));
    suggested = QDir::home().filePath(suggested + QStringLiteral("-history.csv"));
    const QString path =
        saveDialog_ ? saveDialog_(this, suggested)
                    : QFileDialog::getSaveFileName(this, QStringLiteral("Export the drive history"),
                                                   suggested, QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    QString error;
    if (file.open(QIODevice::WriteOnly) && history::WriteCsv(*store, drive_, file, &error) &&
        file.commit())
        return true;
    if (error.isEmpty())
        error = file.errorString();
    platform::NSRunAlertPanel(QStringLiteral("Export"),
                              QStringLiteral("The history could not be saved as %1: %2")
                                  .arg(QDir::toNativeSeparators(path), error),
                              QString());
    return false;
}

} // namespace zentrova::shell

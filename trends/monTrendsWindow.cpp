#include "trends/monTrendsWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

namespace qz {

namespace {

QString U8(const std::string& s) {
    return QString::fromUtf8(s.data(), int(s.size()));
}

QColor Rgb(uint32_t rgb) {
    return QColor(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
}

// The main window's limit colours are kept as 0x00BBGGRR.
QColor OfLimitColor(TmonColor c) {
    const uint32_t v = uint32_t(c);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

const QColor kGrid(0x80, 0x80, 0x80);
// The band of an outage: a reddish shade over the ground, under the grid and the trends.
const QColor kOutageBand(0xC0, 0x40, 0x40, 0x60);

// A wheel notch or a key zooms the time axis by this much.
constexpr double kZoomStep = 1.25;
// The arrow keys pan by this share of the span.
constexpr double kPanShare = 0.1;

void PaintSeries(QPainter& p, const TTrendPane& pane, const TTrendSeries& s, int left) {
    const TTrendValueAxis& a = pane.Axis;
    const auto y = [&](float v) { return ValueToY(v, a.Lo, a.Hi, pane.Top, pane.Height); };
    std::vector<QLine> lines;
    lines.reserve(s.Columns.size() * 2 + 2);
    int dataColumns = 0;
    bool havePrev = false;
    int prevX = 0, prevY = 0;
    for (size_t c = 0; c < s.Columns.size(); ++c) {
        const TTrendColumn& col = s.Columns[c];
        if (!col.Has) continue;
        ++dataColumns;
        const int x = left + int(c);
        const int yFirst = y(col.First);
        if (col.Joined) {
            if (havePrev)
                lines.emplace_back(prevX, prevY, x, yFirst);
            else if (s.Before.Has)
                lines.emplace_back(left + int(std::lround(std::max(s.Before.X, -1e6))),
                                   y(s.Before.Value), x, yFirst);
        }
        const int yMin = y(col.Min), yMax = y(col.Max);
        lines.emplace_back(x, yMax, x, yMin);
        havePrev = true;
        prevX = x;
        prevY = y(col.Last);
    }
    if (havePrev && s.After.Has)
        lines.emplace_back(prevX, prevY, left + int(std::lround(std::min(s.After.X, 1e6))),
                           y(s.After.Value));
    p.setPen(QPen(Rgb(TrendQuantityInfo(s.Quantity).Rgb), 1));
    p.drawLines(lines.data(), int(lines.size()));
    // Few samples on a wide plot: mark each, so that the records can be told from the lines.
    if (dataColumns > 0 && dataColumns * 8 < int(s.Columns.size())) {
        p.setBrush(Rgb(TrendQuantityInfo(s.Quantity).Rgb));
        for (size_t c = 0; c < s.Columns.size(); ++c)
            if (s.Columns[c].Has) p.drawRect(left + int(c) - 1, y(s.Columns[c].First) - 1, 2, 2);
        p.setBrush(Qt::NoBrush);
    }
}

} // namespace

void PaintTrends(QPainter& p, const TTrendPlotModel& m, char sep) {
    const TTrendPlotLayout& l = m.Layout;
    p.fillRect(0, 0, l.Width, l.Height, Rgb(kmonTrendGround));
    const int left = l.Left, w = std::max(0, l.PlotWidth());
    const int plotBottom = l.Top + std::max(0, l.PlotHeight());
    const QFontMetrics fm(p.font());
    // The time axis: a grid line and a label per tick, the date under it where it changes.
    for (const TTrendTimeTick& t : m.Ticks) {
        const int x = int(std::lround(TimeToX(t.Time, m.Range, left, w)));
        p.setPen(QPen(kGrid, 1, Qt::DotLine));
        for (const TTrendPane& pane : m.Panes)
            p.drawLine(x, pane.Top, x, pane.Top + pane.Height);
        p.setPen(Qt::white);
        const QString label = U8(t.Label);
        int tx = x - fm.horizontalAdvance(label) / 2;
        tx = std::clamp(tx, 0, std::max(0, l.Width - fm.horizontalAdvance(label)));
        p.drawText(tx, plotBottom + fm.ascent() + 3, label);
        if (!t.DateLabel.empty()) {
            const QString date = U8(t.DateLabel);
            int dx = std::clamp(x - fm.horizontalAdvance(date) / 2, 0,
                                std::max(0, l.Width - fm.horizontalAdvance(date)));
            p.drawText(dx, plotBottom + fm.ascent() + fm.height() + 4, date);
        }
    }
    for (const TTrendBand& b : m.Bands) {
        const double x0 = std::max(double(left), TimeToX(b.From, m.Range, left, w));
        const double x1 = std::min(double(left + w), TimeToX(b.To, m.Range, left, w));
        if (!(x1 > x0)) continue;
        const int ix0 = int(std::lround(x0)), ix1 = std::max(ix0 + 1, int(std::lround(x1)));
        for (const TTrendPane& pane : m.Panes)
            p.fillRect(QRect(ix0, pane.Top, ix1 - ix0, pane.Height), kOutageBand);
    }
    for (const TTrendPane& pane : m.Panes) {
        const TTrendValueAxis& a = pane.Axis;
        const QRect box(left, pane.Top, w, pane.Height);
        for (double v : ValueTicks(a)) {
            const int yy = ValueToY(v, a.Lo, a.Hi, pane.Top, pane.Height);
            p.setPen(QPen(kGrid, 1, Qt::DotLine));
            p.drawLine(left, yy, left + w, yy);
            p.setPen(Qt::white);
            const QString label = U8(ValueLabel(v, a, sep));
            p.drawText(left - 6 - fm.horizontalAdvance(label), yy + fm.ascent() / 2 - 1, label);
        }
        p.setPen(Qt::white);
        const std::string unit = a.Prefix + pane.Unit;
        p.drawText(4, pane.Top + fm.ascent(), U8(unit.empty() ? std::string("cos") : unit));
        p.save();
        p.setClipRect(box.adjusted(0, 0, 1, 1));
        for (const TmonTrendLimit& lim : pane.Limits) {
            const int yy = ValueToY(lim.Value, a.Lo, a.Hi, pane.Top, pane.Height);
            p.setPen(QPen(OfLimitColor(lim.Color), 1, Qt::DashLine));
            p.drawLine(left, yy, left + w, yy);
        }
        for (const TTrendSeries& s : pane.Series)
            PaintSeries(p, pane, s, left);
        p.restore();
        p.setPen(kGrid);
        p.drawRect(box);
        // The legend: the names of the pane's quantities in their colours.
        int lx = left + 6;
        for (const TTrendSeries& s : pane.Series) {
            const QString name = U8(TrendQuantityInfo(s.Quantity).Name);
            p.setPen(Rgb(TrendQuantityInfo(s.Quantity).Rgb));
            p.drawText(lx, pane.Top + fm.ascent() + 2, name);
            lx += fm.horizontalAdvance(name) + 10;
        }
    }
}

QImage RenderTrends(const TTrendPlotModel& m, char sep) {
    QImage img(std::max(1, m.Layout.Width), std::max(1, m.Layout.Height), QImage::Format_RGB32);
    QPainter p(&img);
    PaintTrends(p, m, sep);
    return img;
}

bool SaveTrendImage(const QImage& image, const QString& path, std::string& error) {
    error.clear();
    if (image.isNull()) {
        error = "Нет рисунка для сохранения";
        return false;
    }
    QImageWriter w(path, "png");
    if (!w.write(image)) {
        error = "Не удалось сохранить рисунок в файл " + path.toStdString() + ": " +
                w.errorString().toStdString();
        return false;
    }
    return true;
}

TTrendTimeFormat SystemTrendTimeFormat() {
    const QLocale loc = QLocale::system();
    TTrendTimeFormat f;
    f.Date = loc.dateFormat(QLocale::ShortFormat).toStdString();
    f.LongTime = loc.timeFormat(QLocale::LongFormat).toStdString();
    f.ShortTime = loc.timeFormat(QLocale::ShortFormat).toStdString();
    for (int m = 1; m <= 12; ++m) {
        f.ShortMonths.push_back(loc.monthName(m, QLocale::ShortFormat).toStdString());
        f.LongMonths.push_back(loc.monthName(m, QLocale::LongFormat).toStdString());
    }
    for (int d = 1; d <= 7; ++d) {
        f.ShortDays.push_back(loc.dayName(d, QLocale::ShortFormat).toStdString());
        f.LongDays.push_back(loc.dayName(d, QLocale::LongFormat).toStdString());
    }
    return f;
}

char SystemDecimalSeparator() {
    const QString d = QLocale::system().decimalPoint();
    return d.size() == 1 && d[0].unicode() < 0x80 ? char(d[0].unicode()) : ',';
}

// --- the window ---

// A protocol being written on a thread of its own; destroying it asks the writer to stop and
// waits for it.
struct TmonTrendsWindow::TProtocolJob {
    TProtocolJob(TTrendProtocolWriter writer, std::string journal, TDateTime from, TDateTime to,
                 std::string pdf)
        : Pdf(std::move(pdf)) {
        Thread = std::thread([this, writer, journal, from, to] {
            std::string error;
            Ok = writer(journal, from, to, Pdf, error, &Progress);
            Error = error;
            Finished = true;
        });
    }
    ~TProtocolJob() {
        Progress.Cancel = true;
        if (Thread.joinable()) Thread.join();
    }
    const std::string Pdf;
    TTrendLoadProgress Progress;
    std::atomic<bool> Finished{false};
    bool Ok = false;
    std::string Error;
    std::thread Thread;
};

TmonTrendsWindow::TmonTrendsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    FFormat = SystemTrendTimeFormat();
    FSeparator = SystemDecimalSeparator();
    setWindowTitle(QString::fromUtf8("Тренды"));
    resize(1000, 600);

    FList = new QListWidget(this);
    FList->setFixedWidth(150);
    auto* copy = new QPushButton(QString::fromUtf8("Копировать графику"), this);
    auto* save = new QPushButton(QString::fromUtf8("Сохранить PNG…"), this);
    auto* open = new QPushButton(QString::fromUtf8("Открыть запись…"), this);
    auto* whole = new QPushButton(QString::fromUtf8("Весь график"), this);
    FLiveButton = new QPushButton(QString::fromUtf8("Текущий опрос"), this);
    FLiveButton->setObjectName("live");
    FLiveButton->setToolTip(QString::fromUtf8("Тренды опроса, который идёт сейчас"));
    FProtocolButton = new QPushButton(QString::fromUtf8("Протокол…"), this);
    FProtocolButton->setObjectName("protocol");
    FProtocolButton->setToolTip(
        QString::fromUtf8("Протокол качества электроэнергии по показанному участку записи (PDF)"));
    copy->setObjectName("copy");
    save->setObjectName("save");
    open->setObjectName("open");
    whole->setObjectName("whole");
    auto* side = new QVBoxLayout;
    side->addWidget(FList, 1);
    for (QPushButton* b : {whole, copy, save, FLiveButton, FProtocolButton, open}) {
        b->setFixedWidth(150);
        b->setFocusPolicy(Qt::NoFocus);
        side->addWidget(b);
    }

    FPlot = new TmonTrendPlot(this);
    FReadout = new QLabel(this);
    FReadout->setObjectName("readout");
    FReadout->setMinimumHeight(20);
    FStatus = new QLabel(this);
    FStatus->setObjectName("status");
    FFixedCursor = std::nan("");
    FSpanStats = new QLabel(this);
    FSpanStats->setObjectName("spanstats");
    FSpanStats->setWordWrap(true);
    FSpanStats->hide();
    FNotice = new QLabel(this);
    FNotice->setObjectName("notice");
    FNotice->setWordWrap(true);
    FNotice->setStyleSheet("color: #a00000");
    FNotice->hide();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(FReadout, 1);
    bottom->addWidget(FStatus);
    auto* main = new QVBoxLayout;
    main->addWidget(FPlot, 1);
    main->addLayout(bottom);
    main->addWidget(FSpanStats);
    main->addWidget(FNotice);
    auto* top = new QHBoxLayout(this);
    top->addLayout(side);
    top->addLayout(main, 1);

    connect(copy, &QPushButton::clicked, this, &TmonTrendsWindow::CopyGraphics);
    connect(save, &QPushButton::clicked, this, &TmonTrendsWindow::SavePicture);
    connect(whole, &QPushButton::clicked, this, &TmonTrendsWindow::ShowWhole);
    connect(FLiveButton, &QPushButton::clicked, this, &TmonTrendsWindow::ShowLive);
    UpdateLiveButton();
    connect(open, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QString::fromUtf8("Открыть запись"), U8(FJournalFolder),
            QString::fromUtf8("Записи (*.db *.sqlite);;Все файлы (*)"));
        if (!path.isEmpty()) OpenFile(path.toStdString());
    });
    connect(FProtocolButton, &QPushButton::clicked, this, [this] {
        const std::string suggested =
            std::filesystem::path(FShownFile).replace_extension(".pdf").string();
        std::string pdf;
        if (ChooseProtocolFile)
            pdf = ChooseProtocolFile(suggested);
        else
            pdf = QFileDialog::getSaveFileName(this, QString::fromUtf8("Протокол"), U8(suggested),
                                               QString::fromUtf8("PDF (*.pdf)"))
                      .toStdString();
        if (!pdf.empty()) WriteProtocol(pdf);
    });
    FProtocolTimer = new QTimer(this);
    FProtocolTimer->setInterval(100);
    connect(FProtocolTimer, &QTimer::timeout, this, &TmonTrendsWindow::CheckProtocol);
    UpdateProtocolButton();
    FillList();
    connect(FList, &QListWidget::itemChanged, this, [this] { ListChanged(); });

    FFollow = new QTimer(this);
    FFollow->setInterval(1000);
    connect(FFollow, &QTimer::timeout, this, &TmonTrendsWindow::SamplesAppended);
    FFollow->start();

    FLoadTimer = new QTimer(this);
    FLoadTimer->setInterval(100);
    connect(FLoadTimer, &QTimer::timeout, this, &TmonTrendsWindow::CheckLoad);
}

// A reading in progress is told to stop and waited for (it looks at the request every thousand
// records or so).
TmonTrendsWindow::~TmonTrendsWindow() = default;

void TmonTrendsWindow::FillList() {
    const std::vector<int> was = FChosen;
    QSignalBlocker block(FList);
    FList->clear();
    for (TmonTrendQuantity q : TrendQuantitiesOf(FSettings.HasNeutral != 0)) {
        const TmonTrendQuantityInfo& info = TrendQuantityInfo(q);
        auto* item = new QListWidgetItem(QString::fromUtf8(info.Name), FList);
        item->setData(Qt::UserRole, int(q));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool on = std::find(was.begin(), was.end(), int(q)) != was.end();
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        // The phase colours read poorly on a white list: a swatch of the colour instead.
        QPixmap swatch(12, 12);
        swatch.fill(Rgb(info.Rgb));
        item->setIcon(QIcon(swatch));
    }
    Invalidate();
}

std::vector<int> TmonTrendsWindow::CheckedQuantities() const {
    std::vector<int> r;
    for (int i = 0; i < FList->count(); ++i)
        if (FList->item(i)->checkState() == Qt::Checked)
            r.push_back(FList->item(i)->data(Qt::UserRole).toInt());
    return r;
}

void TmonTrendsWindow::SetChecked(int quantity, bool checked) {
    for (int i = 0; i < FList->count(); ++i)
        if (FList->item(i)->data(Qt::UserRole).toInt() == quantity)
            FList->item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void TmonTrendsWindow::ListChanged() {
    // The quantities the list does not offer now (the N channel's, for a meter without it)
    // stay chosen for the next meter that has them.
    std::vector<int> chosen = CheckedQuantities();
    for (int q : FChosen) {
        bool listed = false;
        for (int i = 0; i < FList->count() && !listed; ++i)
            listed = FList->item(i)->data(Qt::UserRole).toInt() == q;
        if (!listed) chosen.push_back(q);
    }
    FChosen = chosen;
    Invalidate();
    if (OnQuantitiesChanged) OnQuantitiesChanged(FChosen);
}

void TmonTrendsWindow::SetChosenQuantities(const std::vector<int>& quantities) {
    FChosen.clear();
    for (int q : quantities)
        if (q >= 0 && q < int(kmonTrendQuantityCount) &&
            std::find(FChosen.begin(), FChosen.end(), q) == FChosen.end())
            FChosen.push_back(q);
    FillList();
}

void TmonTrendsWindow::SetSettings(const TmonSettings& s) {
    const bool neutralChanged = (s.HasNeutral != 0) != (FSettings.HasNeutral != 0);
    FSettings = s;
    if (neutralChanged) FillList();
    Invalidate();
}

void TmonTrendsWindow::SetSource(ITrendSource* source) {
    FSource = source;
    FShownFile.clear();
    UpdateProtocolButton();
    if (FOwned && FOwned.get() != source) FOwned.reset();
    Reload();
    UpdateLiveButton();
}

void TmonTrendsWindow::SetLiveSource(ITrendSource* source) {
    const bool follow = !FSource || FSource == FLive;
    FLive = source;
    if (follow) {
        SetSource(source);
    } else {
        UpdateLiveButton();
    }
}

void TmonTrendsWindow::ShowLive() {
    CancelOpen();
    if (FLive && FSource != FLive) {
        SetSource(FLive);
        FStatus->clear();
    }
    if (OnLive) OnLive(); // the polled meter's limit lines again
    UpdateLiveButton();
}

void TmonTrendsWindow::UpdateLiveButton() {
    // Offered while a journal file (or nothing) is shown and there is a poll to go back to.
    FLiveButton->setEnabled(FLive && (FSource != FLive || FLoad));
}

void TmonTrendsWindow::OpenFile(const std::string& path) {
    FLoad.reset(); // the reading before, if any, is abandoned
    FLoad = std::make_unique<TmonTrendFileLoad>(path, FOpener);
    FStatus->setText(QString::fromUtf8("Чтение записи ") + U8(path) + QString::fromUtf8("…"));
    FLoadTimer->start();
    UpdateLiveButton();
}

void TmonTrendsWindow::CancelOpen() {
    if (!FLoad) return;
    FLoad.reset();
    FLoadTimer->stop();
    FStatus->setText(QString::fromUtf8(kmonTrendLoadCancelled));
    UpdateLiveButton();
}

QString TmonTrendsWindow::StatusText() const {
    return FStatus->text();
}

QString TmonTrendsWindow::NoticeText() const {
    return FNotice->text();
}

void TmonTrendsWindow::ShowNotice() {
    const QString notice = FSource ? U8(FSource->Notice()) : QString();
    if (notice == FNotice->text()) return;
    FNotice->setText(notice);
    FNotice->setVisible(!notice.isEmpty());
}

// Takes the source's outages and places them among the samples held; true when they changed.
bool TmonTrendsWindow::TakeOutages() {
    std::vector<TTrendOutage> outages = FSource ? FSource->Outages() : std::vector<TTrendOutage>();
    const bool changed = outages != FOutages;
    FOutages = std::move(outages);
    FGaps.Bands = qz::OutageBands(FOutages, FSamples.data(), FSamples.size());
    return changed;
}

void TmonTrendsWindow::CheckLoad() {
    if (!FLoad) {
        FLoadTimer->stop();
        return;
    }
    if (!FLoad->Finished()) {
        const int pct = int(std::floor(FLoad->Fraction() * 100));
        FStatus->setText(QString::fromUtf8("Чтение записи ") + U8(FLoad->Path()) +
                         QString::fromUtf8(": %1 %").arg(pct));
        return;
    }
    FLoadTimer->stop();
    std::string error;
    std::unique_ptr<ITrendSource> s = FLoad->Take(error);
    const std::string path = FLoad->Path();
    FLoad.reset();
    FStatus->clear();
    UpdateLiveButton();
    if (!s) {
        ReportError(error);
        return;
    }
    ShowSource(std::move(s));
    FShownFile = path;
    UpdateProtocolButton();
}

void TmonTrendsWindow::SetProtocolWriter(TTrendProtocolWriter writer) {
    FProtocolWriter = writer;
    UpdateProtocolButton();
}

void TmonTrendsWindow::UpdateProtocolButton() {
    FProtocolButton->setEnabled(!FShownFile.empty() && FProtocolWriter && !FProtocol);
}

void TmonTrendsWindow::WriteProtocol(const std::string& pdf) {
    if (FProtocol || FShownFile.empty()) return;
    if (!FProtocolWriter) {
        ReportError("Эта сборка не умеет писать протокол");
        return;
    }
    // The span shown, widened to whole seconds so that its edge records belong to it.
    const TDateTime from = FRange.From - 0.5 / 86400, to = FRange.To + 0.5 / 86400;
    FProtocol = std::make_unique<TProtocolJob>(FProtocolWriter, FShownFile, from, to, pdf);
    FStatus->setText(QString::fromUtf8("Протокол…"));
    UpdateProtocolButton();
    FProtocolTimer->start();
}

void TmonTrendsWindow::CheckProtocol() {
    if (!FProtocol) {
        FProtocolTimer->stop();
        return;
    }
    if (!FProtocol->Finished) {
        const int64_t total = FProtocol->Progress.Total;
        const int pct = total > 0 ? int(FProtocol->Progress.Done * 100 / total) : 0;
        FStatus->setText(QString::fromUtf8("Протокол: %1 %").arg(pct));
        return;
    }
    FProtocolTimer->stop();
    std::unique_ptr<TProtocolJob> job = std::move(FProtocol);
    job->Thread.join();
    UpdateProtocolButton();
    if (!job->Ok) {
        FStatus->clear();
        ReportError(job->Error);
        return;
    }
    FStatus->setText(QString::fromUtf8("Протокол записан: ") + U8(job->Pdf));
    if (OpenDocument)
        OpenDocument(job->Pdf);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(U8(job->Pdf)));
}

void TmonTrendsWindow::ShowSource(std::unique_ptr<ITrendSource> source) {
    FOwned = std::move(source);
    FSource = FOwned.get();
    UpdateLiveButton();
    // A journal's limit lines are those of the meter it was recorded from, not those of the
    // meter polled now.
    TmonSettings settings;
    if (FSource->SettingsInForce(settings)) SetSettings(settings);
    Reload();
}

void TmonTrendsWindow::Reload() {
    FSamples.clear();
    FRead = 0;
    if (FSource) {
        FRead = FSource->End();
        FSource->ReadFrom(0, FRead, FSamples);
    }
    TakeOutages();
    ShowNotice();
    FRange = WholeRange(Limits());
    UpdateCaption();
    Invalidate();
}

void TmonTrendsWindow::UpdateCaption() {
    QString c = QString::fromUtf8("Тренды");
    if (FSource && !FSource->Name().empty()) c += QString::fromUtf8(" — ") + U8(FSource->Name());
    setWindowTitle(c);
}

void TmonTrendsWindow::SamplesAppended() {
    if (!FSource) return;
    // A journal file another program is still recording: its new records, and the settings
    // they were measured with.
    TmonSettings settings;
    if (FSource->Refresh() && FSource->SettingsInForce(settings)) SetSettings(settings);
    ShowNotice();
    const size_t end = FSource->End();
    if (end < FRead) {
        // Not the samples read before (a journal replaced under the same source): start over.
        Reload();
        return;
    }
    if (end == FRead) {
        // An outage may begin while no record comes.
        if (TakeOutages()) {
            Invalidate();
            if (FPointerX >= 0) PointerAt(FPointerX);
        }
        return;
    }
    const TTrendViewLimits before = Limits();
    const bool wasEmpty = FSamples.empty();
    FSource->ReadFrom(FRead, end - FRead, FSamples);
    FRead = end;
    // Hold no more than the source does; let go of the oldest in steps, not at every sample.
    const size_t cap = FSource->Capacity();
    if (cap && FSamples.size() > cap + cap / 64)
        FSamples.erase(FSamples.begin(), FSamples.end() - long(cap));
    TakeOutages();
    if (wasEmpty || IsWholeRange(FRange, before))
        FRange = WholeRange(Limits());
    else
        FRange = FollowNewSamples(FRange, before.Last, Limits());
    Invalidate();
    if (FPointerX >= 0) PointerAt(FPointerX);
}

TTrendViewLimits TmonTrendsWindow::Limits() const {
    TTrendViewLimits l;
    if (!FSamples.empty()) {
        l.First = FSamples.front().Time;
        l.Last = FSamples.back().Time;
    } else {
        l.First = l.Last = NowDateTime();
    }
    // An outage before the first record or at the end of the recording is part of what it shows.
    for (const TTrendBand& b : FGaps.Bands) {
        l.First = std::min(l.First, b.From);
        if (std::isfinite(b.To)) l.Last = std::max(l.Last, b.To);
    }
    return l;
}

void TmonTrendsWindow::SetRange(const TTrendTimeRange& r) {
    FRange = ClampRange(r, Limits());
    Invalidate();
}

void TmonTrendsWindow::ShowWhole() {
    SetRange(WholeRange(Limits()));
}

void TmonTrendsWindow::ZoomAt(double factor, TDateTime anchor) {
    FRange = ZoomAbout(FRange, factor, anchor, Limits());
    Invalidate();
}

void TmonTrendsWindow::Pan(double deltaDays) {
    FRange = PanBy(FRange, deltaDays, Limits());
    Invalidate();
}

void TmonTrendsWindow::Invalidate() {
    FModelValid = false;
    if (FPlot) FPlot->update();
}

const TTrendPlotModel& TmonTrendsWindow::Model(int width, int height) const {
    if (!FModelValid || FModel.Layout.Width != width || FModel.Layout.Height != height) {
        TTrendPlotLayout layout = FPlot->Layout();
        layout.Width = width;
        layout.Height = height;
        FModel = BuildPlotModel(FSamples, CheckedQuantities(), FSettings, FRange, layout, FFormat,
                                FGaps);
        FModelValid = true;
    }
    return FModel;
}

TDateTime TmonTrendsWindow::TimeAtPlotX(int x) const {
    const TTrendPlotLayout l = FPlot->Layout();
    return XToTime(x, FRange, l.Left, l.PlotWidth());
}

int TmonTrendsWindow::PlotXOfTime(TDateTime t) const {
    const TTrendPlotLayout l = FPlot->Layout();
    return int(std::lround(TimeToX(t, FRange, l.Left, l.PlotWidth())));
}

std::string TmonTrendsWindow::ReadoutAt(TDateTime t) const {
    if (const TTrendBand* b = BandAt(FGaps.Bands, t))
        return OutageReadout(FOutages[b->Index], FFormat);
    const size_t i = NearestSample(FSamples.data(), FSamples.size(), t);
    if (i >= FSamples.size()) return "";
    const TTrendSample& s = FSamples[i];
    std::string r = FormatDateTimePattern(s.Time, FFormat.Date, &FFormat) + " " +
                    FormatDateTimePattern(s.Time, FFormat.LongTime, &FFormat);
    for (int q : CheckedQuantities())
        r += "   " + ReadoutValue(q, s.Value[q], FSeparator);
    return r;
}

void TmonTrendsWindow::SelectSpan(TDateTime from, TDateTime to) {
    if (to < from) std::swap(from, to);
    FSpanFrom = from;
    FSpanTo = to;
    if (!(to > from)) {
        FSpanStats->clear();
        FSpanStats->hide();
        FPlot->update();
        return;
    }
    std::string text = FormatDateTimePattern(from, FFormat.LongTime, &FFormat) + " — " +
                       FormatDateTimePattern(to, FFormat.LongTime, &FFormat);
    for (int q : CheckedQuantities())
        text += "\n" + qz::SpanStatsText(
                           q, TrendSpanStats(FSamples, from, to, q, TrendLimitsOf(q, FSettings)),
                           FSeparator);
    FSpanStats->setText(U8(text));
    FSpanStats->show();
    FPlot->update();
}

QString TmonTrendsWindow::SpanStatsText() const {
    return FSpanStats->text();
}

void TmonTrendsWindow::SetFixedCursor(TDateTime t) {
    FFixedCursor = t;
    PointerAt(FPointerX);
}

QString TmonTrendsWindow::ReadoutText() const {
    return FReadout->text();
}

void TmonTrendsWindow::PointerAt(int x) {
    FPointerX = x;
    const TTrendPlotLayout l = FPlot->Layout();
    if (x < l.Left || x > l.Left + l.PlotWidth()) {
        FReadout->clear();
    } else {
        std::string text = ReadoutAt(TimeAtPlotX(x));
        // Inside an outage the readout is the outage's: there is no value to compare.
        if (std::isfinite(FFixedCursor) && !FSamples.empty() &&
            !BandAt(FGaps.Bands, TimeAtPlotX(x))) {
            const TTrendSample& a =
                FSamples[NearestSample(FSamples.data(), FSamples.size(), FFixedCursor)];
            const TTrendSample& b =
                FSamples[NearestSample(FSamples.data(), FSamples.size(), TimeAtPlotX(x))];
            text += "   " + CursorDeltaText(a, b, CheckedQuantities(), FSeparator);
        }
        FReadout->setText(U8(text));
    }
    FPlot->update();
}

QImage TmonTrendsWindow::PlotImage() const {
    return RenderTrends(Model(FPlot->width(), FPlot->height()), FSeparator);
}

void TmonTrendsWindow::CopyGraphics() {
    QApplication::clipboard()->setImage(PlotImage());
}

void TmonTrendsWindow::SavePicture() {
    QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8("Сохранить PNG"), QString(),
                                                QString::fromUtf8("Рисунки PNG (*.png)"));
    if (path.isEmpty()) return;
    if (!path.endsWith(".png", Qt::CaseInsensitive)) path += ".png";
    std::string error;
    if (!SaveTrendImage(PlotImage(), path, error)) ReportError(error);
}

void TmonTrendsWindow::ReportError(const std::string& text) {
    if (OnError) {
        OnError("Ошибка", text);
        return;
    }
    QMessageBox::critical(this, QString::fromUtf8("Ошибка"), U8(text));
}

void TmonTrendsWindow::keyPressEvent(QKeyEvent* e) {
    const TDateTime centre = (FRange.From + FRange.To) / 2;
    switch (e->key()) {
    case Qt::Key_Escape:
        if (!Opening()) {
            QWidget::keyPressEvent(e);
            return;
        }
        CancelOpen();
        break;
    case Qt::Key_Home:
        ShowWhole();
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomAt(kZoomStep, FPointerX >= 0 ? TimeAtPlotX(FPointerX) : centre);
        break;
    case Qt::Key_Minus:
        ZoomAt(1 / kZoomStep, FPointerX >= 0 ? TimeAtPlotX(FPointerX) : centre);
        break;
    case Qt::Key_Left:
        Pan(-kPanShare * FRange.Span());
        break;
    case Qt::Key_Right:
        Pan(kPanShare * FRange.Span());
        break;
    default:
        if (e->matches(QKeySequence::Copy) ||
            (e->key() == Qt::Key_Insert && (e->modifiers() & Qt::ControlModifier))) {
            CopyGraphics();
            break;
        }
        QWidget::keyPressEvent(e);
        return;
    }
    e->accept();
}

void TmonTrendsWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (FPlaced) return;
    FPlaced = true;
    // The frame's size arrives from the window manager after the window is mapped.
    QTimer::singleShot(100, this, [this] { KeepOnScreen(); });
}

// The window manager may place the window partly off the screen (over the lower half of the
// main window): the readout and the buttons at the bottom must stay in sight.
void TmonTrendsWindow::KeepOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect avail = screen->availableGeometry();
    QRect frame = frameGeometry();
    const QSize margins = frame.size() - size();
    if (frame.width() > avail.width() || frame.height() > avail.height()) {
        resize(std::min(width(), avail.width() - margins.width()),
               std::min(height(), avail.height() - margins.height()));
        frame.setSize(size() + margins);
    }
    const int x = std::clamp(frame.x(), avail.left(), avail.right() + 1 - frame.width());
    const int y = std::clamp(frame.y(), avail.top(), avail.bottom() + 1 - frame.height());
    if (x != frame.x() || y != frame.y()) move(x, y); // a window's position is its frame's
}

void TmonTrendsWindow::closeEvent(QCloseEvent* e) {
    CancelOpen();
    if (FProtocol) {
        FProtocol.reset(); // asks the writer to stop and waits for it
        FProtocolTimer->stop();
        FStatus->clear();
        UpdateProtocolButton();
    }
    QWidget::closeEvent(e);
}

// --- the plot ---

TmonTrendPlot::TmonTrendPlot(TmonTrendsWindow* owner) : QWidget(owner), FOwner(owner) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(300, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TTrendPlotLayout TmonTrendPlot::Layout() const {
    TTrendPlotLayout l;
    l.Width = width();
    l.Height = height();
    return l;
}

void TmonTrendPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const TTrendPlotModel& m = FOwner->Model(width(), height());
    PaintTrends(p, m, FOwner->FSeparator);
    const TTrendPlotLayout lay = Layout();
    if (FOwner->FSpanTo > FOwner->FSpanFrom) {
        const int x0 = std::max(lay.Left, FOwner->PlotXOfTime(FOwner->FSpanFrom));
        const int x1 = std::min(lay.Left + lay.PlotWidth(), FOwner->PlotXOfTime(FOwner->FSpanTo));
        if (x1 > x0)
            p.fillRect(QRect(x0, lay.Top, x1 - x0, lay.PlotHeight()), QColor(255, 255, 255, 40));
    }
    if (std::isfinite(FOwner->FFixedCursor)) {
        const int fx = FOwner->PlotXOfTime(FOwner->FFixedCursor);
        if (fx >= lay.Left && fx <= lay.Left + lay.PlotWidth()) {
            p.setPen(QPen(QColor(255, 255, 0), 1));
            p.drawLine(fx, lay.Top, fx, lay.Top + lay.PlotHeight());
        }
    }
    const int x = FOwner->FPointerX;
    const TTrendPlotLayout l = Layout();
    if (x < l.Left || x > l.Left + l.PlotWidth() || FOwner->FSamples.empty()) return;
    // The crosshair: the pointer's column and a mark on each trend at the nearest sample.
    const auto& samples = FOwner->FSamples;
    const size_t i = NearestSample(samples.data(), samples.size(), FOwner->TimeAtPlotX(x));
    const int sx = FOwner->PlotXOfTime(samples[i].Time);
    p.setPen(QPen(Qt::white, 1, Qt::DashLine));
    p.drawLine(x, l.Top, x, l.Top + l.PlotHeight());
    // Inside an outage the readout names the outage, not a record: no record is marked.
    if (BandAt(FOwner->FGaps.Bands, FOwner->TimeAtPlotX(x))) return;
    for (const TTrendPane& pane : m.Panes)
        for (const TTrendSeries& s : pane.Series) {
            const int y = ValueToY(samples[i].Value[s.Quantity], pane.Axis.Lo, pane.Axis.Hi,
                                   pane.Top, pane.Height);
            p.setPen(QPen(Qt::white, 1));
            p.setBrush(QColor(int((TrendQuantityInfo(s.Quantity).Rgb >> 16) & 0xFF),
                              int((TrendQuantityInfo(s.Quantity).Rgb >> 8) & 0xFF),
                              int(TrendQuantityInfo(s.Quantity).Rgb & 0xFF)));
            p.drawEllipse(QPoint(sx, y), 3, 3);
        }
}

void TmonTrendPlot::resizeEvent(QResizeEvent*) {
    FOwner->Invalidate();
}

void TmonTrendPlot::wheelEvent(QWheelEvent* e) {
    const int dy = e->angleDelta().y();
    if (dy == 0) return;
    const double notches = dy / 120.0;
    FOwner->ZoomAt(std::pow(kZoomStep, notches),
                   FOwner->TimeAtPlotX(int(std::lround(e->position().x()))));
    e->accept();
}

void TmonTrendPlot::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    const int px = int(std::lround(e->position().x()));
    if (e->modifiers() & Qt::ControlModifier) {
        FOwner->SetFixedCursor(FOwner->TimeAtPlotX(px));
        return;
    }
    if (e->modifiers() & Qt::ShiftModifier) {
        FSelecting = true;
        FSelectFrom = FOwner->TimeAtPlotX(px);
        return;
    }
    FDragging = true;
    FDragX = int(std::lround(e->position().x()));
    FDragRange = FOwner->FRange;
    setCursor(Qt::ClosedHandCursor);
}

void TmonTrendPlot::mouseMoveEvent(QMouseEvent* e) {
    const int x = int(std::lround(e->position().x()));
    if (FSelecting) {
        FOwner->FSpanFrom = std::min(FSelectFrom, FOwner->TimeAtPlotX(x));
        FOwner->FSpanTo = std::max(FSelectFrom, FOwner->TimeAtPlotX(x));
    }
    if (FDragging) {
        // The time under the pointer stays under it: drag right shows earlier times.
        const int w = std::max(1, Layout().PlotWidth());
        const double delta = -(x - FDragX) * FDragRange.Span() / w;
        FOwner->FRange = PanBy(FDragRange, delta, FOwner->Limits());
        FOwner->Invalidate();
    }
    FOwner->PointerAt(x);
}

void TmonTrendPlot::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    if (FSelecting) {
        FSelecting = false;
        FOwner->SelectSpan(FSelectFrom, FOwner->TimeAtPlotX(int(std::lround(e->position().x()))));
        return;
    }
    FDragging = false;
    unsetCursor();
}

void TmonTrendPlot::leaveEvent(QEvent*) {
    FOwner->FPointerX = -1;
    FOwner->FReadout->clear();
    update();
}

void TmonTrendPlot::contextMenuEvent(QContextMenuEvent* e) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QString::fromUtf8("Копировать графику"));
    QAction* save = menu.addAction(QString::fromUtf8("Сохранить PNG…"));
    QAction* whole = menu.addAction(QString::fromUtf8("Весь график"));
    connect(copy, &QAction::triggered, FOwner, &TmonTrendsWindow::CopyGraphics);
    connect(save, &QAction::triggered, FOwner, &TmonTrendsWindow::SavePicture);
    connect(whole, &QAction::triggered, FOwner, &TmonTrendsWindow::ShowWhole);
    menu.exec(e->globalPos());
}

} // namespace qz

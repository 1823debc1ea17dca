#include "waveform/monMultiSignal.h"

#include <QApplication>
#include <QBitmap>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace qz {

namespace {

constexpr uint32_t kWindowColour = 0xFFFFFF;
constexpr uint32_t kGridColour = 0x808080;
constexpr uint32_t kBottomLineColour = 0x0015DE;
constexpr int kStripHeight = 16;
constexpr int kScrollWidth = 16;
constexpr int kPanelWidth = 121;

// A 0x00BBGGRR colour; the system colours (high byte set) are the window colour.
uint32_t ResolvedColour(uint32_t c) {
    return (c & 0xFF000000u) ? kWindowColour : c;
}

QColor ColourOf(uint32_t c) {
    c = ResolvedColour(c);
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

// A number in its shortest decimal form with the user's decimal separator.
QString ShortNumber(double v) {
    QString s = QString::number(v, 'g', 12);
    return s.replace('.', QLocale::system().decimalPoint());
}

// A number with `minDec` to `maxDec` decimals ("0.0", "0.0##").
QString FixedNumber(double v, int minDec, int maxDec) {
    QString s = QString::number(v, 'f', maxDec);
    const int dot = s.indexOf('.');
    if (dot >= 0) {
        int keep = s.size();
        while (keep > dot + 1 + minDec && s[keep - 1] == '0')
            --keep;
        s.truncate(keep);
    }
    return s.replace('.', QLocale::system().decimalPoint());
}

// Cursor of a range mode: a vertical double arrow with the letter of the quantity.
QCursor LevelCursor(const char* letter) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    auto arrow = [&p](const QColor& c, int w) {
        p.setPen(QPen(c, w));
        p.drawLine(10, 3, 10, 28);
        p.drawLine(10, 3, 6, 8);
        p.drawLine(10, 3, 14, 8);
        p.drawLine(10, 28, 6, 23);
        p.drawLine(10, 28, 14, 23);
        p.drawLine(4, 15, 16, 15);
    };
    arrow(Qt::white, 3);
    arrow(Qt::black, 1);
    QFont f;
    f.setPixelSize(13);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            p.drawText(QRect(17 + dx, 8 + dy, 14, 16), Qt::AlignCenter, Utf8(letter));
    p.setPen(Qt::black);
    p.drawText(QRect(17, 8, 14, 16), Qt::AlignCenter, Utf8(letter));
    p.end();
    return QCursor(pm, 10, 15);
}

// What earlier windows of this run leave for the next one.
struct TmsSavedState {
    bool Valid = false;
    int ScrollPosition = 0;
    int Zoom = 1;
    int IFullScale = 0;
    int UFullScale = 0;
    uint8_t Mask = 0;
    std::vector<bool> Checks;
    int Code = 2;
    int ComboIndex = 1;
    bool ScaleU = true, ScaleI = false, Nodes = false;
    bool PanelShown = false;
    QString BOptCaption;
    QRect Geometry;
};
TmsSavedState& Saved() {
    static TmsSavedState s;
    return s;
}

Qt::KeyboardModifier ModifierOfKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
        return Qt::ShiftModifier;
    case Qt::Key_Control:
        return Qt::ControlModifier;
    case Qt::Key_Alt:
        return Qt::AltModifier;
    case Qt::Key_Meta:
        return Qt::MetaModifier;
    default:
        return Qt::NoModifier;
    }
}

} // namespace

QEvent::Type TmsMessageEvent::EventType() {
    static const QEvent::Type t = QEvent::Type(QEvent::registerEventType());
    return t;
}

// A tool window of its owner: the window manager keeps it above the main window, but the
// boxes and dialogs of the program still open above it (a window on top of every window
// would hide them and leave the operator with a frozen program).
TWMultiSignal::TWMultiSignal(QWidget* owner, TSigExperiment* exp, bool hasNeutral)
    : QWidget(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      FExp(exp), FHasNeutral(hasNeutral) {
    BuildForm();
    SetScales(0, 0);
}

TWMultiSignal::~TWMultiSignal() {
    FormDestroy();
}

void TWMultiSignal::BuildForm() {
    setObjectName("WMultiSignal");
    setWindowTitle("MultiSignal");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setCursor(Qt::OpenHandCursor); // pan until a modifier key says otherwise
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(200, 206);
    resize(404, 242);
    QFont small = font();
    small.setPixelSize(11);

    Panel2 = new QWidget(this);
    Panel2->setObjectName("Panel2");
    Panel2->setAutoFillBackground(true);
    Panel2->hide();
    ChanelList = new QListWidget(Panel2);
    ChanelList->setObjectName("ChanelList");
    ChanelList->setFont(small);
    ChanelList->setUniformItemSizes(true);
    const int count = FExp ? int(FExp->Channels.size()) : 0;
    for (int i = 0; i < count; ++i) {
        const TSigChannel* ch = FExp->Channels[size_t(i)];
        auto* item = new QListWidgetItem(QString::number(i) + Utf8(ch->Name.c_str()));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        // Every item starts ticked: the initial masks ask for every phase.
        item->setCheckState(Qt::Checked);
        item->setForeground(ColourOf(ch->Colour));
        item->setBackground(ColourOf(FWindowColour));
        item->setSizeHint(QSize(kPanelWidth - 20, 16));
        ChanelList->addItem(item);
    }
    Label1 = new QLabel(Utf8("Количество точек"), Panel2);
    Label1->setFont(small);
    CBoxPointCount = new QComboBox(Panel2);
    CBoxPointCount->setObjectName("CBoxPointCount");
    CBoxPointCount->setFont(small);
    for (const char* t : {"32", "64", "128", "256", "512"})
        CBoxPointCount->addItem(t);
    const int code = FExp ? FExp->SizeCode.load() : 2;
    CBoxPointCount->setCurrentIndex(std::clamp(code - 1, 0, 4));
    CBNodes = new QCheckBox(Utf8("Узлы"), Panel2);
    CBNodes->setObjectName("CBNodes");
    CBScaleU = new QCheckBox(Utf8("Шкала U"), Panel2);
    CBScaleU->setObjectName("CBScaleU");
    CBScaleU->setChecked(true);
    CBScaleI = new QCheckBox(Utf8("Шкала I"), Panel2);
    CBScaleI->setObjectName("CBScaleI");
    for (QCheckBox* c : {CBNodes, CBScaleU, CBScaleI})
        c->setFont(small);

    StatusStrip = new QWidget(this);
    StatusStrip->setAutoFillBackground(true);
    Label4 = new QLabel("-", StatusStrip);
    Label4->setObjectName("Label4");
    Label4->setFont(small);
    BOpt = new QPushButton(">>", StatusStrip);
    BOpt->setObjectName("BOpt");
    BOpt->setFont(small);
    BOpt->setFocusPolicy(Qt::NoFocus);

    ScrollBar1 = new QScrollBar(Qt::Vertical, this);
    ScrollBar1->setObjectName("ScrollBar1");
    ScrollBar1->setRange(-100000, 100000);
    ScrollBar1->setPageStep(10);
    ScrollBar1->setValue(0);

    TrackBar1 = new QSlider(Qt::Horizontal, this);
    TrackBar1->setObjectName("TrackBar1");
    TrackBar1->setRange(1, 70000);
    TrackBar1->hide();

    Timer1 = new QTimer(this);
    Timer1->setInterval(10);

    connect(CBoxPointCount, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { CBoxPointCountChange(); });
    connect(CBNodes, &QCheckBox::clicked, this, [this] { FormRis(); });
    connect(CBScaleU, &QCheckBox::clicked, this, [this] { ScaleClick(CBScaleU); });
    connect(CBScaleI, &QCheckBox::clicked, this, [this] { ScaleClick(CBScaleI); });
    connect(ChanelList, &QListWidget::itemChanged, this, [this] { ChanelListChange(); });
    connect(BOpt, &QPushButton::clicked, this, [this] { BOptClick(); });
    connect(ScrollBar1, &QScrollBar::valueChanged, this, [this] { ScrollBar1Change(); });
    connect(TrackBar1, &QSlider::valueChanged, this, [this](int v) {
        if (v != FView.Position) {
            FView.Position = v;
            TrackBar1Change();
        }
    });
    connect(Timer1, &QTimer::timeout, this, [this] { SetPosition(FView.Position + 1); });

    // Key preview: the window sees the keys of its controls first.
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);

    FView.ClientWidth = width();
    FPicture = QImage(size(), QImage::Format_RGB32);
    FPicture.fill(ColourOf(FWindowColour));
    LayoutControls();
}

void TWMultiSignal::LayoutControls() {
    const int cw = width(), ch = height();
    StatusStrip->setGeometry(0, ch - kStripHeight, cw, kStripHeight);
    Label4->setGeometry(4, 0, 16, kStripHeight);
    BOpt->setGeometry(cw - 40, 0, 40, kStripHeight);
    ScrollBar1->setGeometry(cw - kScrollWidth, 0, kScrollWidth, ch - kStripHeight);
    TrackBar1->setGeometry(0, ch - 44, cw - 16, 20);
    if (Panel2->isVisible()) LayoutPanel();
}

void TWMultiSignal::LayoutPanel() {
    const int ph = height() - kStripHeight;
    Panel2->setGeometry(0, 0, kPanelWidth, ph);
    ChanelList->setGeometry(0, 0, kPanelWidth, msTrunc(height() * 0.4));
    Label1->setGeometry(4, ph - 98, kPanelWidth - 8, 16);
    CBoxPointCount->setGeometry(4, ph - 82, kPanelWidth - 8, 22);
    CBNodes->setGeometry(4, ph - 58, kPanelWidth - 8, 16);
    CBScaleU->setGeometry(4, ph - 42, kPanelWidth - 8, 16);
    CBScaleI->setGeometry(4, ph - 26, kPanelWidth - 8, 16);
}

void TWMultiSignal::BOptClick() {
    if (Panel2->isVisible()) {
        Panel2->hide();
        BOpt->setText(">>");
    } else {
        LayoutPanel();
        Panel2->show();
        Panel2->raise();
        BOpt->setText("<<");
    }
}

// --- ImsSignalWindow ---

void TWMultiSignal::SetFullScales(int uFullScale, int iFullScale) {
    FUFullScale = uFullScale;
    FIFullScale = iFullScale;
}

void TWMultiSignal::RemovePointCountItem(int index) {
    if (index < 0 || index >= CBoxPointCount->count()) return;
    QSignalBlocker block(CBoxPointCount);
    const bool wasCurrent = CBoxPointCount->currentIndex() == index;
    CBoxPointCount->removeItem(index);
    if (wasCurrent && FExp) {
        // The code must name a block the combo still offers.
        CBoxPointCount->setCurrentIndex(CBoxPointCount->count() - 1);
        FExp->SizeCode = uint8_t(CBoxPointCount->currentIndex() + 1);
    }
}

void TWMultiSignal::SetQuantCount(int quantCount) {
    FView.QuantCount = std::max(0, quantCount);
}

void TWMultiSignal::SetZoom(int zoom) {
    FView.Zoom = zoom == 0 || zoom == -1 ? 1 : zoom;
}

void TWMultiSignal::ShowWindow() {
    show();
}

void TWMultiSignal::Schet() {
    FView.ClientWidth = width();
    qz::Schet(FView);
    SyncTrackBar();
}

void TWMultiSignal::SyncTrackBar() {
    QSignalBlocker block(TrackBar1);
    TrackBar1->setRange(FView.Min, FView.Max);
    TrackBar1->setSingleStep(FView.LineSize);
    TrackBar1->setPageStep(FView.PageSize);
    TrackBar1->setValue(FView.Position);
}

void TWMultiSignal::FormResize() {
    if (FPicture.size() != size()) FPicture = QImage(size(), QImage::Format_RGB32);
    TrackBar1->setGeometry(0, height() - 44, width() - 16, 20);
    if (!FExp || FExp->Channels.empty()) return;
    if (Panel2->isVisible()) LayoutPanel();
    FView.Zoom = ZoomFromWidth(width(), FExp->SizeCode.load());
    SetTrackSteps(FView);
    Schet();
    GridCompute_I();
    GridCompute_U();
    FormRis();
    FormPaint();
}

void TWMultiSignal::SetScales(double voltage, double current) {
    const double u = UCoefOf(voltage), i = ICoefOf(current, FHasNeutral);
    if (u == FUCoef && i == FICoef) return;
    FUCoef = u;
    FICoef = i;
    // The grid steps are in volts and amperes: new factors need new steps, or a meter with
    // another voltage ratio draws hundreds of lines and a large current loses its grid.
    GridCompute_U();
    GridCompute_I();
}

bool TWMultiSignal::ItemChecked(int item) const {
    const QListWidgetItem* it = ChanelList->item(item);
    return it && it->checkState() == Qt::Checked;
}

std::string TWMultiSignal::BusyCaption() const {
    return Label4->text().toStdString();
}

void TWMultiSignal::SetBusyCaption(const std::string& caption) {
    Label4->setText(QString::fromStdString(caption));
}

// --- scales and settings ---

void TWMultiSignal::CBoxPointCountChange() {
    const int code = CBoxPointCount->currentIndex() + 1;
    if (FExp && code >= 1 && code <= 5)
        FExp->SizeCode = uint8_t(code); // the waveform thread asks for this size next
    FView.Zoom = ZoomFromWidth(width(), code);
    SetTrackSteps(FView);
    Schet();
    FormRis();
    FormPaint();
}

void TWMultiSignal::GridCompute_U() {
    FUGridStep = GridStep(height(), FUFullScale, FUCoef);
}

void TWMultiSignal::GridCompute_I() {
    FIGridStep = GridStep(height(), FIFullScale, FICoef);
}

int TWMultiSignal::VertOffset() const {
    return -ScrollBar1->value();
}

void TWMultiSignal::ScaleClick(QCheckBox* which) {
    if (which->isChecked()) {
        QCheckBox* other = which == CBScaleU ? CBScaleI : CBScaleU;
        other->setChecked(false);
    }
    FormRis();
}

void TWMultiSignal::ChanelListChange() {
    std::vector<bool> checked;
    for (int i = 0; i < ChanelList->count(); ++i)
        checked.push_back(ItemChecked(i));
    if (FExp) FExp->ChannelMask = ChannelMaskOf(checked, FHasNeutral);
    FormRis();
}

void TWMultiSignal::ScrollBar1Change() {
    Schet();
    FormRis();
}

void TWMultiSignal::TrackBar1Change() {
    Schet();
    FormRis();
    if (!FInViewChanged) PostViewChanged();
}

void TWMultiSignal::SetPosition(int position) {
    if (position == FView.Position) return;
    FView.Position = position;
    TrackBar1Change();
}

void TWMultiSignal::PostViewChanged() {
    ++FViewChangedPosted;
    if (QWidget* owner = parentWidget()) {
        auto* m = new TmsMessageEvent(WM_MS_VIEWCHANGED);
        m->Zoom = FView.Zoom;
        m->Position = FView.Position;
        m->PageSize = FView.PageSize;
        m->Max = FView.Max;
        QCoreApplication::postEvent(owner, m);
    }
}

QString TWMultiSignal::ZoomCaption() const {
    const QString text = FExp ? QString::fromStdString(FExp->Caption) : QString();
    return text + Utf8(" Масш.:") + QString::number(FView.Zoom);
}

// --- drawing ---

void TWMultiSignal::DrawGrid(QPainter& p, bool voltage, int& labelWidth) {
    const int cw = width(), ch = height();
    const int H = PlotHeight(ch);
    const int vo = VertOffset();
    const int full = voltage ? FUFullScale : FIFullScale;
    const double coef = voltage ? FUCoef : FICoef;
    const double gridStep = voltage ? FUGridStep : FIGridStep;
    if (full == 0 || coef == 0) return;
    const double ppu = double(H) / full;
    const double step = gridStep / coef;
    const double cell = ppu * step;
    if (!(cell > 0.5)) return; // lines closer than a pixel say nothing
    const QColor grid = ColourOf(FGridColour);
    const QColor back = ColourOf(FExp ? FExp->BackgroundColour : kWindowColour);
    const QFontMetrics fm(p.font());
    const int lo = msTrunc((vo - H / 2.0) / cell);
    const int hi = msTrunc((vo + H / 2.0) / cell);
    for (int i = lo; i <= hi; ++i) {
        if (i == 0) continue;
        const int y = ValueToY(H, vo, msTrunc(i * step), ppu);
        p.setPen(QPen(grid, 1, Qt::DotLine));
        p.drawLine(0, y, cw, y);
        const QString number = ShortNumber(i * gridStep);
        labelWidth = fm.horizontalAdvance(number + "_");
        const QString label = "    " + number + " ";
        // Right-aligned against the scroll bar, so no digit hides under it.
        const int lw = fm.horizontalAdvance(label);
        const QRect r(std::min(cw - labelWidth - 18, cw - kScrollWidth - 2 - lw), y - 7, lw,
                      fm.height());
        p.fillRect(r, back);
        p.setPen(grid);
        p.drawText(r, Qt::AlignLeft | Qt::AlignTop, label);
    }
}

void TWMultiSignal::DrawChannel(QPainter& p, const TSigChannel& ch, int H, int vo) {
    const int q = FView.QuantCount;
    const int pos = FView.Position;
    const int zoom = FView.Zoom;
    if (pos >= q || q <= 0) return;
    const QColor colour = ColourOf(ch.Colour);
    p.setPen(QPen(colour, 2, Qt::SolidLine));
    const bool current = ch.Name.size() >= 2 && ch.Name[1] == 'I';
    const int full = current ? FIFullScale : FUFullScale;
    const double s = full ? 2.0 * H / full : 0.0;
    const bool nodes = CBNodes->isChecked();
    const int n = int(ch.Samples.size());
    auto value = [&](int i) -> int { return i >= 0 && i < n ? ch.Samples[size_t(i)] : 32768; };
    auto node = [&](int i) -> bool {
        return i >= 0 && i < int(ch.NodeFlags.size()) && ch.NodeFlags[size_t(i)] != 0;
    };
    auto yOf = [&](int v) { return SampleToY(H, vo, v, s); };
    // Where the columns of a zoom below 1 stop: the last visible sample or the last one held.
    const int end = std::min(pos + FView.VisibleCount, q);

    if (ch.Mark) {
        char label[kSigLabelBufferSize];
        auto mark = [&](int x, int i) {
            p.drawLine(x, height() - 26, x, 10);
            ChanelGet(&ch, uint32_t(i), label, sizeof label, nullptr);
            p.drawText(x + 2, 10 + p.fontMetrics().ascent(), Utf8(label));
        };
        if (zoom >= 1) {
            for (int b = 1; b <= FView.VisibleCount && pos + b < q; ++b)
                if (value(pos + b) > 0) mark(zoom > 1 ? (b - 1) * zoom : b, pos + b);
        } else {
            for (const TmsColumn& c :
                 DecimateColumns(ch.Samples, ch.NodeFlags, pos + 2, end, -zoom))
                if (c.Max > 0) mark(c.X, c.MaxAt);
        }
        return;
    }

    std::vector<QPoint> line;
    std::vector<QRect> squares;
    line.reserve(size_t(std::max(2, FView.VisibleCount * 2 + 2)));
    line.emplace_back(1, yOf(value(pos)));
    auto addNode = [&](int x, int y) { squares.emplace_back(x - 2, y - 2, 4, 4); };
    if (zoom >= 1) {
        for (int b = 1; b <= FView.VisibleCount && pos + b < q; ++b) {
            const int x = zoom > 1 ? (b - 1) * zoom : b;
            const int y = yOf(value(pos + b));
            line.emplace_back(x, y);
            if (nodes && node(pos + b)) addNode(x, y);
        }
    } else {
        // Each column of -zoom samples as a bar from its lowest to its highest sample.
        for (const TmsColumn& c : DecimateColumns(ch.Samples, ch.NodeFlags, pos + 2, end, -zoom)) {
            line.emplace_back(c.X, yOf(c.Min));
            line.emplace_back(c.X, yOf(c.Max));
            if (nodes && c.Node) addNode(c.X, yOf(c.Max));
        }
    }
    // A 2-pixel trace as 1-pixel lines shifted down and right: about the same picture, but
    // one-pixel lines take the raster engine's fast path instead of the wide-pen stroker.
    p.setPen(QPen(colour, 1, Qt::SolidLine));
    p.drawPolyline(line.data(), int(line.size()));
    p.translate(0, 1);
    p.drawPolyline(line.data(), int(line.size()));
    p.translate(1, -1);
    p.drawPolyline(line.data(), int(line.size()));
    p.translate(-1, 0);
    if (!squares.empty()) {
        p.setPen(QPen(colour, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRects(squares.data(), int(squares.size()));
    }
}

void TWMultiSignal::FormRis() {
    const int cw = width(), ch = height();
    if (FPicture.size() != size()) FPicture = QImage(size(), QImage::Format_RGB32);
    const int H = PlotHeight(ch);
    const int vo = VertOffset();
    const QColor back = ColourOf(FExp ? FExp->BackgroundColour : kWindowColour);
    FPicture.fill(back);
    QPainter p(&FPicture);
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont f = font();
    f.setPixelSize(11);
    p.setFont(f);

    // Zero line.
    const QColor grid = ColourOf(FGridColour);
    const int y0 = ZeroLineY(H, vo);
    p.setPen(QPen(grid, 1, Qt::SolidLine));
    p.drawLine(0, y0, cw, y0);
    {
        const QString zero = QString("    ") + "0" + " ";
        const int zw = p.fontMetrics().horizontalAdvance(zero);
        const QRect r(std::min(cw - 30, cw - kScrollWidth - 2 - zw), y0 - 4, zw,
                      p.fontMetrics().height());
        p.fillRect(r, back);
        p.drawText(r, Qt::AlignLeft | Qt::AlignTop, zero);
    }

    int uLabel = 0, iLabel = 0;
    const bool scaleU = CBScaleU->isChecked(), scaleI = CBScaleI->isChecked();
    if (scaleU) DrawGrid(p, true, uLabel);
    if (scaleI) DrawGrid(p, false, iLabel);

    if (FView.Zoom == 0) FView.Zoom = 1;
    if (FExp) {
        for (int i = 0; i < int(FExp->Channels.size()); ++i) {
            const TSigChannel* c = FExp->Channels[size_t(i)];
            if (!c || !ItemChecked(i) || c->SampleCount() == 0) continue;
            p.setFont(f);
            DrawChannel(p, *c, H, vo);
        }
    }

    p.setPen(QPen(ColourOf(kBottomLineColour), 1));
    p.drawLine(1, H, cw - 16, H);

    // Below the plot: the window colour and the axis titles.
    p.fillRect(0, ch - 30, cw, 30, ColourOf(FWindowColour));
    p.setPen(Qt::black);
    const QFontMetrics fm(p.font());
    auto title = [&](int labelWidth, const char* text) {
        const int tw = fm.horizontalAdvance(text);
        const int x = std::min(cw - labelWidth - 22, cw - kScrollWidth - 2 - tw);
        p.drawText(QRect(x, ch - 31, tw + 2, fm.height()), Qt::AlignLeft | Qt::AlignTop, text);
    };
    if (scaleU) title(uLabel, "U,B ");
    if (scaleI) title(iLabel, "I,A ");
    p.end();
    update();
}

void TWMultiSignal::SetWindowColour(uint32_t colour) {
    FWindowColour = ResolvedColour(colour);
    FMarkColour = ~FWindowColour & 0xFFFFFF;
    // The grid stays grey, unless grey is the window colour itself: then it is the mark's.
    FGridColour = FWindowColour == kGridColour ? FMarkColour : kGridColour;
    for (int i = 0; i < ChanelList->count(); ++i)
        ChanelList->item(i)->setBackground(ColourOf(FWindowColour));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ColourOf(FWindowColour));
    setPalette(pal);
    FormRis();
}

void TWMultiSignal::FormPaint() {
    setWindowTitle(ZoomCaption());
}

void TWMultiSignal::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, FPicture);
    if (FSelecting && FSelection.isValid()) {
        // The frame in the inverse of the window colour.
        p.setPen(QPen(ColourOf(FMarkColour), 1, Qt::DashLine));
        p.setBrush(QBrush(ColourOf(FMarkColour), Qt::DiagCrossPattern));
        p.drawRect(FSelection.normalized());
    }
}

void TWMultiSignal::resizeEvent(QResizeEvent*) {
    LayoutControls();
    FormResize();
}

// --- show, close, state between windows ---

void TWMultiSignal::showEvent(QShowEvent*) {
    if (!FShownOnce) {
        FShownOnce = true;
        FormShow();
    }
}

void TWMultiSignal::FormShow() {
    FView.QuantCount = 0;
    const TmsSavedState& s = Saved();
    if (!s.Valid) {
        FView.Zoom = ZoomFromWidth(width(), FExp ? FExp->SizeCode.load() : 2);
        if (QWidget* owner = parentWidget()) {
            QRect g = geometry();
            g.moveCenter(owner->frameGeometry().center());
            move(g.topLeft());
        }
        FormPaint();
        return;
    }
    {
        QSignalBlocker b1(ScrollBar1), b2(CBoxPointCount), b3(ChanelList);
        ScrollBar1->setValue(s.ScrollPosition);
        FView.Zoom = s.Zoom;
        FIFullScale = s.IFullScale;
        FUFullScale = s.UFullScale;
        if (int(s.Checks.size()) == ChanelList->count()) {
            for (int i = 0; i < ChanelList->count(); ++i)
                ChanelList->item(i)->setCheckState(s.Checks[size_t(i)] ? Qt::Checked
                                                                       : Qt::Unchecked);
            if (FExp) FExp->ChannelMask = s.Mask;
        }
        if (s.ComboIndex >= 0 && s.ComboIndex < CBoxPointCount->count()) {
            CBoxPointCount->setCurrentIndex(s.ComboIndex);
            if (FExp) FExp->SizeCode = uint8_t(s.Code);
        }
        CBScaleU->setChecked(s.ScaleU);
        CBScaleI->setChecked(s.ScaleI);
        CBNodes->setChecked(s.Nodes);
    }
    if (s.PanelShown != Panel2->isVisible()) BOptClick();
    BOpt->setText(s.BOptCaption);
    if (s.Geometry.isValid()) setGeometry(s.Geometry);
    FormPaint();
}

void TWMultiSignal::FormDestroy() {
    TmsSavedState& s = Saved();
    s.Valid = true;
    s.ScrollPosition = ScrollBar1->value();
    s.Zoom = FView.Zoom;
    s.IFullScale = FIFullScale;
    s.UFullScale = FUFullScale;
    s.Mask = FExp ? FExp->ChannelMask.load() : 0;
    s.Checks.clear();
    for (int i = 0; i < ChanelList->count(); ++i)
        s.Checks.push_back(ItemChecked(i));
    s.Code = FExp ? FExp->SizeCode.load() : CBoxPointCount->currentIndex() + 1;
    s.ComboIndex = CBoxPointCount->currentIndex();
    s.ScaleU = CBScaleU->isChecked();
    s.ScaleI = CBScaleI->isChecked();
    s.Nodes = CBNodes->isChecked();
    s.PanelShown = Panel2->isVisible();
    s.BOptCaption = BOpt->text();
    s.Geometry = geometry();
}

void TWMultiSignal::ForgetSavedState() {
    Saved() = TmsSavedState();
}

void TWMultiSignal::closeEvent(QCloseEvent* e) {
    // The window never closes itself: the owner switches the display off and frees it.
    e->ignore();
    RequestClose();
}

void TWMultiSignal::RequestClose() {
    if (OnCloseRequest) OnCloseRequest();
}

// --- messages ---

bool TWMultiSignal::event(QEvent* e) {
    if (e->type() == TmsMessageEvent::EventType()) {
        HandleMessage(*static_cast<TmsMessageEvent*>(e));
        return true;
    }
    return QWidget::event(e);
}

void TWMultiSignal::HandleMessage(const TmsMessageEvent& m) {
    switch (m.Msg) {
    case WM_MS_SETQUANT: {
        const int q = FExp ? int(std::min<uint32_t>(FExp->QuantCount, 1u << 30)) : 0;
        FView.QuantCount = q;
        FView.Max = std::max(q, 1);
        FView.Position = std::max(q, 1);
        SyncTrackBar();
        break;
    }
    case WM_MS_TIMERON:
        Timer1->start();
        break;
    case WM_MS_TIMERRESET:
        Timer1->stop();
        SetPosition(1);
        break;
    case WM_MS_TIMEROFF:
        Timer1->stop();
        break;
    case WM_MS_COMMAND:
        switch (m.WParam) {
        case 0: // the window and list colour follow the experiment; grid and mark follow them
            if (FExp) SetWindowColour(FExp->BackgroundColour);
            break;
        case 1:
            FormRis();
            ChanelList->viewport()->update();
            break;
        case 2: {
            QSignalBlocker block(ChanelList);
            ChanelList->clear();
            const int count = FExp ? int(FExp->Channels.size()) : 0;
            for (int i = 0; i < count; ++i) {
                const TSigChannel* c = FExp->Channels[size_t(i)];
                auto* item = new QListWidgetItem(QString::number(i) + Utf8(c->Name.c_str()));
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Checked);
                item->setForeground(ColourOf(c->Colour));
                item->setSizeHint(QSize(kPanelWidth - 20, 16));
                ChanelList->addItem(item);
            }
            FView.QuantCount = int(ExpGetQuantCount(FExp));
            Schet();
            FormRis();
            break;
        }
        case 3:
            SetPosition(PositionCentring(int(m.LParam), width(), FView.Zoom));
            break;
        case 4:
            if (FExp)
                for (int i = 0; i < ChanelList->count() && i < int(FExp->Channels.size()); ++i)
                    ChanelList->item(i)->setText(QString::number(i) +
                                                 Utf8(FExp->Channels[size_t(i)]->Name.c_str()));
            break;
        case 5:
            setWindowTitle(FExp ? QString::fromStdString(FExp->Caption) : QString());
            break;
        default:
            break;
        }
        break;
    case WM_MS_VIEWCHANGED:
        FInViewChanged = true;
        FView.Zoom = m.Zoom == 0 ? 1 : m.Zoom;
        FView.Position = m.Position;
        FView.PageSize = m.PageSize;
        FView.Max = std::max(m.Max, 1);
        FView.Position = std::clamp(FView.Position, FView.Min, FView.Max);
        SyncTrackBar();
        TrackBar1Change();
        FInViewChanged = false;
        break;
    default:
        break;
    }
}

// --- mouse ---

void TWMultiSignal::ApplyShiftState(Qt::KeyboardModifiers mods) {
    // A drag keeps its mode until its button is released.
    if (FDragging || FSelecting) return;
    mods &= Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    const bool scaleU = CBScaleU->isChecked(), scaleI = CBScaleI->isChecked();
    if (mods == Qt::AltModifier) {
        FMode = TmsMode::HorizontalZoom;
        setCursor(Qt::SizeHorCursor);
    } else if (mods == Qt::ControlModifier) {
        FMode = TmsMode::VoltageRange;
        static const QCursor u = LevelCursor("U");
        setCursor(u);
        CBScaleI->setChecked(false);
        CBScaleU->setChecked(true);
    } else if (mods == Qt::ShiftModifier) {
        FMode = TmsMode::CurrentRange;
        static const QCursor i = LevelCursor("I");
        setCursor(i);
        CBScaleI->setChecked(true);
        CBScaleU->setChecked(false);
    } else if (mods == Qt::NoModifier) {
        FMode = TmsMode::Pan;
        setCursor(Qt::OpenHandCursor);
    }
    // The grid of the scale just chosen is shown at once.
    if (CBScaleU->isChecked() != scaleU || CBScaleI->isChecked() != scaleI) FormRis();
}

void TWMultiSignal::mousePressEvent(QMouseEvent* e) {
    const QPoint pt = e->position().toPoint();
    if (FDragging || FSelecting) return; // one drag at a time
    if (FMode == TmsMode::Pan && e->button() == Qt::LeftButton) {
        FDragging = true;
        setCursor(Qt::SizeAllCursor);
        FDragX = pt.x();
        FDragY = pt.y();
    } else if (FMode == TmsMode::Pan && e->button() == Qt::RightButton) {
        // A rectangle for "Копировать графику".
        FSelecting = true;
        setCursor(Qt::CrossCursor);
        FSelection = QRect(pt, pt);
    }
}

void TWMultiSignal::mouseMoveEvent(QMouseEvent* e) {
    const QPoint pt = e->position().toPoint();
    // A release this window never saw (taken by a box or another window) still ends the drag.
    if ((FDragging && !(e->buttons() & Qt::LeftButton)) ||
        (FSelecting && !(e->buttons() & Qt::RightButton))) {
        FDragging = FSelecting = false;
        setCursor(Qt::OpenHandCursor);
        update();
    }
    if (FDragging) {
        if (pt.y() != FDragY) {
            ScrollBar1->setValue(ScrollBar1->value() + (FDragY - pt.y()));
            FDragY = pt.y();
            GridCompute_I();
            GridCompute_U();
        }
        const int dx = FDragX - pt.x();
        const int r = FView.Zoom < 0 ? dx * -FView.Zoom : dx / std::max(FView.Zoom, 1);
        if (r != 0) {
            FDragX = pt.x();
            SetPosition(FView.Position + r);
        }
    } else if (FSelecting) {
        FSelection.setBottomRight(pt);
        update();
    }
    FormMouseMove(pt.x(), pt.y(), e->modifiers());
}

void TWMultiSignal::FormMouseMove(int x, int y, Qt::KeyboardModifiers mods) {
    if (FExp && !FExp->Channels.empty()) {
        if (ChanelList->currentRow() < 0) ChanelList->setCurrentRow(0);
        const int item = std::clamp(ChanelList->currentRow(), 0, int(FExp->Channels.size()) - 1);
        const double step = FExp->Channels[size_t(item)]->SamplesPerStep;
        const int sample = SampleUnderPointer(FView.Zoom, x, FView.Position, step);
        const int H = PlotHeight(height());
        const int e = HeightAtRow(VertOffset(), H, y);
        const double volts = H > 0 ? msRnd(double(FUFullScale) / H * e) * FUCoef : 0;
        const double amps = H > 0 ? msRnd(double(FIFullScale) / H * e) * FICoef : 0;
        // The levels are read on the scales of the channel chosen in the list, whose samples
        // are counted: it is named, or a level would be taken for another channel's.
        const QString channel =
            QString::fromStdString(FExp->Channels[size_t(item)]->Name).trimmed();
        setWindowTitle(QString::fromStdString(FExp->Caption) + Utf8(" Масш.:") +
                       QString::number(FView.Zoom) + Utf8("   Канал ") + channel +
                       "   U:" + FixedNumber(volts, 1, 1) + Utf8(" В   I:") +
                       FixedNumber(amps, 1, 3) + Utf8(" A   Отсчёт:") + QString::number(sample));
    }
    ApplyShiftState(mods);
}

void TWMultiSignal::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint pt = e->position().toPoint();
    const TmsButton b = e->button() == Qt::RightButton    ? TmsButton::Right
                        : e->button() == Qt::MiddleButton ? TmsButton::Middle
                                                          : TmsButton::Left;
    // A drag ends with the release of its own button, whatever the modifier keys did
    // meanwhile; then the keys held now choose the mode.
    if (FDragging || FSelecting) {
        if (FDragging && e->button() == Qt::LeftButton) {
            FDragging = false;
            setCursor(Qt::OpenHandCursor);
            FormRis();
        } else if (FSelecting && e->button() == Qt::RightButton) {
            FSelecting = false;
            setCursor(Qt::OpenHandCursor);
            const QRect r = FSelection.normalized();
            update();
            ApplyShiftState(e->modifiers());
            // A click without a drag copies the whole plot.
            ShowCopyMenu(e->globalPosition().toPoint(),
                         r.width() > 2 && r.height() > 2 ? r : QRect());
            return;
        } else {
            return; // another button during the drag does nothing
        }
        ApplyShiftState(e->modifiers());
        return;
    }
    switch (FMode) {
    case TmsMode::Pan:
    case TmsMode::Select:
        break;
    case TmsMode::VoltageRange:
    case TmsMode::CurrentRange: {
        const bool u = FMode == TmsMode::VoltageRange;
        TmsRange r{u ? FUFullScale : FIFullScale, ScrollBar1->value()};
        RangeClick(r, b, pt.y(), PlotHeight(height()));
        (u ? FUFullScale : FIFullScale) = r.FullScale;
        {
            QSignalBlocker block(ScrollBar1);
            ScrollBar1->setValue(r.ScrollPosition);
        }
        if (u)
            GridCompute_U();
        else
            GridCompute_I();
        Schet();
        FormRis();
        break;
    }
    case TmsMode::HorizontalZoom:
        FView.ClientWidth = width();
        HorizontalZoomClick(FView, b, pt.x());
        SyncTrackBar();
        setWindowTitle(ZoomCaption());
        FormRis();
        PostViewChanged();
        break;
    }
}

void TWMultiSignal::wheelEvent(QWheelEvent* e) {
    e->accept();
    if (FMode != TmsMode::Pan || FDragging) return;
    const int dy = e->angleDelta().y();
    if (dy < 0)
        SetPosition(FView.Position + 10);
    else if (dy > 0)
        SetPosition(FView.Position - 10);
}

void TWMultiSignal::contextMenuEvent(QContextMenuEvent* e) {
    // The mouse's right button has its own meaning; the menu key opens the copy menu.
    if (e->reason() == QContextMenuEvent::Keyboard) ShowCopyMenu(e->globalPos(), QRect());
}

void TWMultiSignal::ShowCopyMenu(const QPoint& globalPos, const QRect& rect) {
    QMenu menu(this);
    QAction* copy = menu.addAction(Utf8("Копировать графику"));
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
    connect(copy, &QAction::triggered, this, [this, rect] { CopyGraphics(rect); });
    menu.exec(globalPos);
}

void TWMultiSignal::CopyGraphics(const QRect& rect) {
    const QRect plot(0, 0, width() - kScrollWidth, std::max(1, height() - 30));
    const QRect r = rect.isValid() ? rect.normalized().intersected(plot) : plot;
    if (r.isEmpty()) return;
    QApplication::clipboard()->setImage(FPicture.copy(r));
}

// --- keys ---

bool TWMultiSignal::eventFilter(QObject* obj, QEvent* e) {
    if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
        auto* k = static_cast<QKeyEvent*>(e);
        const int key = k->key();
        if (key == Qt::Key_Escape || key == Qt::Key_F2 || ModifierOfKey(key) != Qt::NoModifier ||
            (key == Qt::Key_Insert && (k->modifiers() & Qt::ControlModifier))) {
            HandleKey(k, e->type() == QEvent::KeyPress);
            return true;
        }
    }
    return QWidget::eventFilter(obj, e);
}

void TWMultiSignal::keyPressEvent(QKeyEvent* e) {
    HandleKey(e, true);
    e->accept(); // every key is the window's
}

void TWMultiSignal::keyReleaseEvent(QKeyEvent* e) {
    HandleKey(e, false);
    e->accept();
}

void TWMultiSignal::HandleKey(QKeyEvent* e, bool press) {
    Qt::KeyboardModifiers mods = e->modifiers();
    const Qt::KeyboardModifier own = ModifierOfKey(e->key());
    mods = press ? (mods | own) : (mods & ~own);
    if (press) {
        if (e->key() == Qt::Key_Escape)
            RequestClose();
        else if (e->key() == Qt::Key_Insert && (mods & Qt::ControlModifier))
            CopyGraphics();
    } else if (e->key() == Qt::Key_F2 && !e->isAutoRepeat()) {
        if (QWidget* owner = parentWidget())
            QCoreApplication::postEvent(
                owner, new QKeyEvent(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier));
    }
    ApplyShiftState(mods);
}

} // namespace qz

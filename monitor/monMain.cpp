#include "monitor/monMain.h"

#include "channel/LCATrace.h"
#include "common/DateTime.h"
#include "connection/ui/CcnMessages.h"
#include "exchange/monCsvExport.h"
#include "monitor/monCommandLine.h"
#include "monitor/monRecording.h"
#include "monitor/monSpectrum.h"
#include "protocol/DeviceStatus.h"
#include "protocol/QZ2Models.h"
#include "settings/cmnKnownFoldersFunc.h"
#include "settings/cmnPortAccess.h"
#include "trends/monTrendSource.h"
#include "trends/monTrendsWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qz {

const char* const kmonAppTitle = "Монитор Каврен-QZ2";
const char* const kmonMsgNoDevice = "Не выбран измеритель";
const char* const kmonMsgExchangeError = "Ошибка обмена с измерителем:\r\n\r\n";
const char* const kmonMsgNoWaveforms = "Данный измеритель не предоставляет формы сигналов";
const char* const kmonMsgConnectionObject = "Ошибка при создании объекта подключения";

std::string ListNotLoadedText(const std::string& settingsFile, const std::string& reason,
                              const std::string& backupFile) {
    return "Список подключений не загружен из файла настроек\r\n" + settingsFile +
           "\r\n\r\nПричина: " + reason +
           "\r\n\r\nСохранённый список остаётся в файле настроек без изменений, пока в окне "
           "выбора измерителя не будет сохранён новый список. Перед этим он будет скопирован "
           "в файл\r\n" +
           backupFile;
}

namespace {

std::string SavedListBytes(const TccnConnectionList& list) {
    TccnMemoryStream stream;
    list.SaveToStream(stream, sfBinary);
    return stream.Data();
}

const char* const kCaptionWarning = "Внимание";
const char* const kCaptionError = "Ошибка";
const char* const kStart = "Старт";
const char* const kStop = "Стоп";
constexpr int kMarkerRole = Qt::UserRole + 1;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The system's formats: the decimal separator and short date plus long time, the time left
// out at exactly midnight.
TmonFormatContext SystemFormat() {
    TmonFormatContext ctx;
    QLocale loc = QLocale::system();
    QString point = loc.decimalPoint();
    ctx.DecimalSeparator =
        (point.size() == 1 && point[0].unicode() < 128) ? char(point[0].unicode()) : '.';
    QString dateFormat = loc.dateFormat(QLocale::ShortFormat);
    QString timeFormat = loc.timeFormat(QLocale::LongFormat);
    // The long time format of many locales names the time zone; the meter's clock has none.
    timeFormat.remove(QLatin1Char('t'));
    timeFormat = timeFormat.trimmed();
    ctx.FormatDateTime = [dateFormat, timeFormat](TDateTime t) {
        TDateTimeParts p = DecodeDateTime(t);
        QDate date(p.Year, p.Month, p.Day);
        QString s = date.toString(dateFormat);
        if (TimeOfDayMs(t) != 0)
            s += QLatin1Char(' ') + QTime(p.Hour, p.Minute, p.Second, p.MSec).toString(timeFormat);
        return s.toStdString();
    };
    return ctx;
}

// The meter as the operator knows it: its model and factory number ("" without one).
std::string MeterName(const TccnConnection* c) {
    if (!c || !c->CustomDevice()) return std::string();
    const TccnCustomDevice* d = c->CustomDevice();
    const TDeviceType t = d->DeviceType();
    return std::string(t < DeviceTypeCount ? DeviceTypeNames[t] : "") + " № " +
           std::to_string(d->FactoryNum());
}

QFont WindowFont() {
    const QStringList families = QFontDatabase::families();
    if (families.contains(QStringLiteral("Tahoma"))) {
        QFont f(QStringLiteral("Tahoma"));
        f.setPixelSize(11);
        return f;
    }
    // A narrow sans keeps the labels within the places made for Tahoma.
    QFont f(families.contains(QStringLiteral("DejaVu Sans Condensed"))
                ? QStringLiteral("DejaVu Sans Condensed")
                : QStringLiteral("DejaVu Sans"));
    f.setPixelSize(10);
    return f;
}

} // namespace

// The spectrum picture; a press anywhere reports its x.
class TmonSpectrumImage : public QWidget {
public:
    explicit TmonSpectrumImage(QWidget* parent)
        : QWidget(parent), Image(kmonSpectrumWidth, kmonSpectrumHeight, QImage::Format_RGB32) {
        Image.fill(QColor(0x6A, 0x6A, 0x6A));
    }
    QImage Image;
    std::function<void(int)> OnMouseDown;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(0, 0, Image);
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (OnMouseDown) OnMouseDown(int(e->position().x()));
    }
};

// The grid's header row; the angle symbol sits before the angle column's caption.
class TmonGridHeader : public QHeaderView {
public:
    TmonGridHeader(QWidget* parent, const QPixmap& icon)
        : QHeaderView(Qt::Horizontal, parent), Icon(icon) {}
    bool AngleIcon = false;

protected:
    void paintSection(QPainter* p, const QRect& rect, int logicalIndex) const override {
        p->save();
        QHeaderView::paintSection(p, rect, logicalIndex);
        p->restore();
        if (AngleIcon && logicalIndex == 2) p->drawPixmap(rect.left() + 6, rect.top() + 3, Icon);
    }

private:
    QPixmap Icon;
};

namespace {

// Values right-aligned 18 pixels before the cell's right edge, a limit marker in that room.
class TGridDelegate : public QStyledItemDelegate {
public:
    TGridDelegate(QObject* parent, const QPixmap& normal, const QPixmap& maximum)
        : QStyledItemDelegate(parent), FNormal(normal), FMax(maximum) {}
    void paint(QPainter* p, const QStyleOptionViewItem& opt,
               const QModelIndex& index) const override {
        bool selected = opt.state & QStyle::State_Selected;
        p->fillRect(opt.rect, selected ? opt.palette.highlight() : opt.palette.base());
        p->setPen(selected ? opt.palette.highlightedText().color() : opt.palette.text().color());
        p->setFont(opt.font);
        QRect r = opt.rect.adjusted(0, 1, -18, 0);
        p->drawText(r, Qt::AlignRight | Qt::AlignTop, index.data().toString());
        uint32_t marker = index.data(kMarkerRole).toUInt();
        if (marker == mclBlue)
            p->drawPixmap(opt.rect.right() - 15, opt.rect.top(), FNormal);
        else if (marker == mclRed)
            p->drawPixmap(opt.rect.right() - 15, opt.rect.top(), FMax);
    }

private:
    QPixmap FNormal, FMax;
};

QGroupBox* Group(QWidget* parent, const char* name, const char* caption, int x, int y, int w,
                 int h) {
    auto* g = new QGroupBox(QString::fromUtf8(caption), parent);
    g->setObjectName(name);
    g->setGeometry(x, y, w, h);
    return g;
}

QLabel* Caption(QWidget* parent, const char* text, int x, int y, int w = 0, int h = 16) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setGeometry(x, y, w == 0 ? l->sizeHint().width() : w, h);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

QLabel* Value(QWidget* parent, const char* name, int x, int y, int w, bool bold = true) {
    auto* l = new QLabel(QStringLiteral("0"), parent);
    l->setObjectName(name);
    l->setGeometry(x, y, w, 16);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

void Put(QLabel* l, const TmonLabel& v) {
    if (!v.Set) return;
    l->setText(Q(v.Text));
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, ToQColor(v.Color));
    l->setPalette(pal);
}

} // namespace

TForm1::TForm1(TmonFormOptions options) : FOpt(std::move(options)) {
    FFormat = FOpt.Format ? *FOpt.Format : SystemFormat();
    FSettings = FOpt.Settings ? std::move(FOpt.Settings) : std::make_unique<TmonIniFile>();
    if (!FOpt.Messages) FOpt.Messages = std::make_unique<TmonMessageBoxes>(this);
    FAngleIcon = MakeAngleIcon();
    FNormalIcon = MakeNormalLimitIcon();
    FMaxIcon = MakeMaxLimitIcon();
    FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FWakeFd < 0) throw std::runtime_error("qzmonitor: no eventfd for the exchange threads");
    FWakeNotifier = new QSocketNotifier(FWakeFd, QSocketNotifier::Read, this);
    connect(FWakeNotifier, &QSocketNotifier::activated, this, [this] { DrainCalls(); });
    FRecording = std::make_unique<TmonRecording>(FStorage, static_cast<IExchangeListener*>(this));
    FRecording->OnFailure = [this](const std::string& file, const std::string& text) {
        RunOnWindowThread([this, &file, &text] { HandleRecordingFailure(file, text); });
    };
    FTrendSource = std::make_unique<TmonTrendMemorySource>("", true, kmonTrendLiveSamples);
    FLineLog = FOpt.LineLog ? FOpt.LineLog : &monLineLog();
    BuildForm();
    CentreOnScreen(); // again once shown, when the window manager's frame is known
    FormCreate();
    qApp->installEventFilter(this);
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    FormClose();
    FLineLog->SetNotify(nullptr); // waits for a message being reported
    // A trace of this window's ends with it (the threads have ended and closed their
    // channels); one given on the command line is the program's to end.
    if (FOwnTrace && FLineLog->Trace() == FOwnTrace) FLineLog->SetTrace(nullptr);
    if (FOwnTrace) FOwnTrace->Stop();
    // FormDestroy: the settings reach the disk even when the window was never closed.
    SaveSettingsFile();
    delete FWakeNotifier;
    ::close(FWakeFd);
}

void TForm1::BuildForm() {
    setObjectName("Form1");
    setFont(WindowFont());
    setFixedSize(784, 532);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    // --- "Управление"
    GroupBox10 = Group(this, "GroupBox10", "Управление", 1, -1, 352, 93);
    BDevices = new QPushButton(QString::fromUtf8("Измеритель ..."), GroupBox10);
    BDevices->setObjectName("BDevices");
    BDevices->setGeometry(8, 16, 226, 26);
    BStart = new QPushButton(QString::fromUtf8(kStart), GroupBox10);
    BStart->setObjectName("BStart");
    BStart->setGeometry(240, 16, 104, 26);
    Caption(GroupBox10, "Uном", 10, 50);
    Label48 = Value(GroupBox10, "Label48", 8, 68, 118);
    Label48->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    LUnom = Value(GroupBox10, "LUnom", 8, 68, 60);
    LUnom->hide();
    LUnom_mf = Value(GroupBox10, "LUnom_mf", 8, 68, 60);
    LUnom_mf->hide();
    Caption(GroupBox10, "Iном", 134, 50);
    L_I_nom = Value(GroupBox10, "L_I_nom", 132, 68, 64);
    L_I_nom->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ChkViewSinus = new QCheckBox(QString::fromUtf8("Сигнал"), GroupBox10);
    ChkViewSinus->setObjectName("ChkViewSinus");
    ChkViewSinus->setGeometry(206, 58, 66, 22);
    buSaveData = new QPushButton(QString::fromUtf8("Сохранить"), GroupBox10);
    buSaveData->setObjectName("buSaveData");
    buSaveData->setGeometry(272, 56, 72, 26);
    buSaveData->setToolTip(QString::fromUtf8("Сохранить значения в файле     F2"));

    // --- "Частота"
    GroupBox6 = Group(this, "GroupBox6", "Частота", 354, -1, 69, 93);
    L_freq = Value(GroupBox6, "L_freq", 2, 22, 63);
    Caption(GroupBox6, "Отклонение", 4, 48);
    L_delta_F = Value(GroupBox6, "L_delta_F", 2, 66, 63);

    // --- "Несинусоидальность"
    GroupBox7 = Group(this, "GroupBox7", "Несинусоидальность", 424, -1, 358, 93);
    {
        const char* phaseNames[4] = {"L_K_U_a", "L_K_U_b", "L_K_U_c", "L_K_U_n"};
        const char* kiNames[4] = {"L_K_I_a", "L_K_I_b", "L_K_I_c", "L_K_I_n"};
        const char* lineNames[3] = {"L_K_U_ab", "L_K_U_bc", "L_K_U_ca"};
        const char* phaseCaps[3] = {"KU A", "KU B", "KU C"};
        const char* lineCaps[3] = {"KU AB", "KU BC", "KU CA"};
        const char* kiCaps[3] = {"KI A", "KI B", "KI C"};
        for (int i = 0; i < 3; ++i) {
            int y = 20 + i * 22;
            Caption(GroupBox7, phaseCaps[i], 6, y);
            L_K_U[i] = Value(GroupBox7, phaseNames[i], 30, y, 54);
            Caption(GroupBox7, lineCaps[i], 92, y);
            L_K_U_line[i] = Value(GroupBox7, lineNames[i], 122, y, 54);
            Caption(GroupBox7, kiCaps[i], 184, y);
            L_K_I[i] = Value(GroupBox7, kiNames[i], 206, y, 54);
        }
        Caption(GroupBox7, "KU N", 268, 20);
        L_K_U[3] = Value(GroupBox7, phaseNames[3], 292, 20, 58);
        Caption(GroupBox7, "KI N", 268, 42);
        L_K_I[3] = Value(GroupBox7, kiNames[3], 292, 42, 58);
    }

    // --- "Параметры основной частоты"
    GroupBox1 = Group(this, "GroupBox1", "Параметры основной частоты", 1, 92, 422, 49);
    Combo_U = new QComboBox(GroupBox1);
    Combo_U->setObjectName("Combo_U");
    Combo_U->addItems(
        {QString::fromUtf8("U(1)"), QString::fromUtf8("Uд"), QString::fromUtf8("Отклонение U(1)")});
    Combo_U->setGeometry(40, 18, 150, 22);
    Combo_I = new QComboBox(GroupBox1);
    Combo_I->setObjectName("Combo_I");
    Combo_I->addItems({QString::fromUtf8("I(1)"), QString::fromUtf8("Iд")});
    Combo_I->setGeometry(200, 18, 110, 22);
    ChkRecord = new QCheckBox(QString::fromUtf8("Запись"), GroupBox1);
    ChkRecord->setObjectName("ChkRecord");
    ChkRecord->setGeometry(330, 18, 60, 22);
    ChkRecord->setToolTip(QString::fromUtf8("Вести журнал записи     F3"));
    // Too narrow for its caption: the picture, with the caption in the tip.
    BTrends = new QPushButton(GroupBox1);
    BTrends->setObjectName("BTrends");
    BTrends->setGeometry(392, 17, 24, 24);
    BTrends->setIcon(QIcon(MakeTrendsIcon()));
    BTrends->setAccessibleName(QString::fromUtf8("Тренды"));
    BTrends->setToolTip(QString::fromUtf8("Тренды     F4"));
    FContextMenu = new QMenu(this);
    FContextMenu->setObjectName("ContextMenu");
    QAction* trends = FContextMenu->addAction(QString::fromUtf8("Тренды"));
    trends->setShortcut(QKeySequence(Qt::Key_F4)); // shown only: the key is taken below
    trends->setShortcutContext(Qt::WidgetShortcut);
    connect(trends, &QAction::triggered, this, [this] { ShowTrends(); });
    FTraceAction = FContextMenu->addAction(QString::fromUtf8("Трассировка линии"));
    FTraceAction->setObjectName("TraceAction");
    FTraceAction->setCheckable(true);
    connect(FTraceAction, &QAction::toggled, this, [this](bool on) { SetLineTrace(on); });

    // --- "Фазные параметры"
    GroupBox2 = Group(this, "GroupBox2", "Фазные параметры", 1, 135, 422, 97);
    {
        const char* caps[4] = {"A", "B", "C", "N"};
        const char* u[4] = {"L_U_a", "L_U_b", "L_U_c", "L_U_N"};
        const char* c[4] = {"L_I_a", "L_I_b", "L_I_c", "L_I_N"};
        const char* f[4] = {"L_fi_UI_a", "L_fi_UI_b", "L_fi_UI_c", "L_fi_UI_n"};
        for (int i = 0; i < 4; ++i) {
            int y = 16 + i * 19;
            Caption(GroupBox2, caps[i], 14, y);
            L_U[i] = Value(GroupBox2, u[i], 40, y, 150);
            L_I[i] = Value(GroupBox2, c[i], 200, y, 110);
            L_fi_UI[i] = Value(GroupBox2, f[i], 320, y, 90);
        }
    }

    // --- "Междуфазные параметры"
    GroupBox3 = Group(this, "GroupBox3", "Междуфазные параметры", 1, 229, 422, 98);
    {
        const char* caps[3] = {"AB", "BC", "CA"};
        const char* u[3] = {"L_U_ab", "L_U_bc", "L_U_ca"};
        const char* seqCaps[3] = {"0", "1", "2"};
        const char* su[3] = {"L_U_0", "L_U_1", "L_U_2"};
        const char* si[3] = {"L_I_0", "L_I_1", "L_I_2"};
        const char* sf[3] = {"L_fi_UI_0", "L_fi_UI_1", "L_fi_UI_2"};
        for (int i = 0; i < 3; ++i) {
            int y = 20 + i * 24;
            Caption(GroupBox3, caps[i], 8, y);
            L_U_line[i] = Value(GroupBox3, u[i], 30, y, 96);
            Caption(GroupBox3, seqCaps[i], 140, y);
            L_U_seq[i] = Value(GroupBox3, su[i], 150, y, 92);
            L_I_seq[i] = Value(GroupBox3, si[i], 248, y, 80);
            L_fi_UI_seq[i] = Value(GroupBox3, sf[i], 332, y, 80);
        }
    }

    // --- "Коэффициенты несимметрии"
    GroupBox4 = Group(this, "GroupBox4", "Коэффициенты несимметрии", 1, 327, 310, 36);
    Caption(GroupBox4, "K0", 10, 15);
    L_K_0 = Value(GroupBox4, "L_K_0", 30, 15, 100);
    Caption(GroupBox4, "K2", 160, 15);
    L_K_1 = Value(GroupBox4, "L_K_1", 180, 15, 100);

    // --- "Мощность"
    GroupBox5 = Group(this, "GroupBox5", "Мощность", 1, 363, 310, 169);
    RB_whole = new QRadioButton(QString::fromUtf8("Всего сигнала"), GroupBox5);
    RB_whole->setObjectName("RB_whole");
    RB_whole->setGeometry(10, 16, 130, 20);
    RB_whole->setChecked(true);
    RB_first = new QRadioButton(QString::fromUtf8("1-й гармоники"), GroupBox5);
    RB_first->setObjectName("RB_first");
    RB_first->setGeometry(150, 16, 130, 20);
    {
        const char* hdrNames[3] = {"L_P", "L_Q", "L_S"};
        const char* hdrTexts[3] = {"P, Вт", "Q, вар", "S, В*А"};
        const char* rowCaps[5] = {"A", "B", "C", "ABC", "N"};
        const int rowY[5] = {60, 78, 96, 132, 114}; // N above the total
        const char* names[4][5] = {{"L_P_a", "L_P_b", "L_P_c", "L_P_abc", "L_P_n"},
                                   {"L_Q_a", "L_Q_b", "L_Q_c", "L_Q_abc", "L_Q_n"},
                                   {"L_S_a", "L_S_b", "L_S_c", "L_S_abc", "L_S_n"},
                                   {"L_Cos_a", "L_Cos_b", "L_Cos_c", "L_Cos_abc", "L_COS_n"}};
        for (int g = 0; g < 4; ++g) {
            int x = 36 + g * 68;
            if (g < 3) {
                L_P_hdr[g] = Caption(GroupBox5, hdrTexts[g], x, 40, 64);
                L_P_hdr[g]->setObjectName(hdrNames[g]);
                L_P_hdr[g]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            } else {
                QLabel* cos = Caption(GroupBox5, "Cos", x, 40, 64);
                cos->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            for (int r = 0; r < 5; ++r) {
                QLabel* l = Value(GroupBox5, names[g][r], x, rowY[r], 64);
                if (g < 3)
                    L_PQS[g][r] = l;
                else
                    L_Cos[r] = l;
            }
        }
        for (int r = 0; r < 5; ++r)
            Caption(GroupBox5, rowCaps[r], 6, rowY[r]);
    }

    // --- "Гармоники"
    GroupBox9 = Group(this, "GroupBox9", "Гармоники", 424, 92, 359, 235);
    ComboBox1 = new QComboBox(GroupBox9);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(8, 16, 150, 22);
    ComboBox1->addItems({QString::fromUtf8("КUф"), QString::fromUtf8("KUмф"),
                         QString::fromUtf8("KI"), QString::fromUtf8("Фаза А"),
                         QString::fromUtf8("Фаза B"), QString::fromUtf8("Фаза С"),
                         QString::fromUtf8("Мощность")});
    StringGrid1 = new QTableWidget(kmonGridRows, 3, GroupBox9);
    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->setGeometry(8, 42, 343, 187);
    GridHeader = new TmonGridHeader(StringGrid1, FAngleIcon);
    StringGrid1->setHorizontalHeader(GridHeader);
    GridHeader->setSectionResizeMode(QHeaderView::Fixed);
    GridHeader->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    GridHeader->setFixedHeight(20);
    StringGrid1->verticalHeader()->setFixedWidth(20);
    StringGrid1->verticalHeader()->setDefaultSectionSize(17);
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StringGrid1->setItemDelegate(new TGridDelegate(StringGrid1, FNormalIcon, FMaxIcon));
    QStringList rowHeaders;
    for (int n = 2; n <= 40; ++n)
        rowHeaders << QString::number(n);
    StringGrid1->setVerticalHeaderLabels(rowHeaders);

    // --- "Спектр"
    GroupBox8 = Group(this, "GroupBox8", "Спектр", 312, 327, 471, 205);
    ComboBox2 = new QComboBox(GroupBox8);
    ComboBox2->setObjectName("ComboBox2");
    ComboBox2->setGeometry(60, 11, 72, 20);
    ComboBox2->addItems(
        {QString::fromUtf8("KUф"), QString::fromUtf8("KUмф"), QString::fromUtf8("KI")});
    auto legend = [this](const char* name, const char* text, int x, QColor bg, QColor fg) {
        auto* l = new QLabel(QString::fromUtf8(text), GroupBox8);
        l->setObjectName(name);
        l->setGeometry(x, 13, 28, 16);
        l->setAlignment(Qt::AlignCenter);
        l->setAutoFillBackground(true);
        QPalette pal = l->palette();
        pal.setColor(QPalette::Window, bg);
        pal.setColor(QPalette::WindowText, fg);
        l->setPalette(pal);
        return l;
    };
    L_Yellow = legend("L_Yellow", " А ", 150, QColor(0xFF, 0xFF, 0x00), Qt::black);
    L_Green = legend("L_Green", " В ", 182, QColor(0x00, 0xFF, 0x00), Qt::black);
    L_Red = legend("L_Red", " С ", 214, QColor(0xFF, 0x00, 0x00), Qt::white);
    L_Blue = legend("L_Blue", " N ", 246, QColor(0x00, 0x00, 0xFF), Qt::white);
    Caption(GroupBox8, "%", 392, 14);
    BInc = new QPushButton(QStringLiteral("+"), GroupBox8);
    BInc->setObjectName("BInc");
    BInc->setGeometry(410, 10, 24, 21);
    BDec = new QPushButton(QStringLiteral("-"), GroupBox8);
    BDec->setObjectName("BDec");
    BDec->setGeometry(436, 10, 24, 21);
    Image1 = new TmonSpectrumImage(GroupBox8);
    Image1->setObjectName("Image1");
    Image1->setGeometry(6, 33, kmonSpectrumWidth, kmonSpectrumHeight);
    ScrollBar1 = new QScrollBar(Qt::Vertical, GroupBox8);
    ScrollBar1->setObjectName("ScrollBar1");
    ScrollBar1->setGeometry(454, 33, 14, kmonSpectrumHeight);
    ScrollBar1->setRange(0, kScrollRange);
    ScrollBar1->setPageStep(20);
    ScrollBar1->setValue(kScrollRange);
    {
        const int barStep = SpectrumBarStep(kmonSpectrumWidth);
        for (int n : {2, 10, 20, 30, 40}) {
            QLabel* l = Caption(GroupBox8, std::to_string(n).c_str(),
                                6 + SpectrumBarX(barStep, n) - 10, 192, 24, 12);
            l->setAlignment(Qt::AlignCenter);
        }
    }
    FSpectrumFont = QFont(QStringLiteral("DejaVu Serif"));
    FSpectrumFont.setPixelSize(9);

    // --- handlers
    connect(BStart, &QPushButton::clicked, this, [this] { BStartClick(); });
    connect(BDevices, &QPushButton::clicked, this, [this] { BDevicesClick(); });
    connect(buSaveData, &QPushButton::clicked, this, [this] { SaveMeasurements(); });
    connect(ChkViewSinus, &QCheckBox::toggled, this, [this] { ChkViewSinusClick(); });
    // The connect's progress, in the free room at the foot of "Мощность".
    LProgress = new QLabel(GroupBox5);
    LProgress->setObjectName("LProgress");
    LProgress->setGeometry(8, 148, 296, 16);
    LProgress->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    FProgressTimer = new QTimer(this);
    FProgressTimer->setInterval(1000);
    connect(FProgressTimer, &QTimer::timeout, this, [this] { ShowLineProgress(); });
    connect(ChkRecord, &QCheckBox::toggled, this, [this] { ChkRecordClick(); });
    connect(BTrends, &QPushButton::clicked, this, [this] { ShowTrends(); });
    connect(Combo_U, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { ShowMeasurements(); });
    connect(Combo_I, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { ShowMeasurements(); });
    connect(RB_whole, &QRadioButton::clicked, this, [this] { ShowPowers(); });
    connect(RB_first, &QRadioButton::clicked, this, [this] { ShowPowers(); });
    connect(ComboBox1, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { FillHarmonicsGrid(); });
    connect(ComboBox2, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { ComboBox2Change(); });
    connect(BInc, &QPushButton::clicked, this, [this] { BIncClick(); });
    connect(BDec, &QPushButton::clicked, this, [this] { BDecClick(); });
    connect(ScrollBar1, &QScrollBar::valueChanged, this, [this] { ScrollBar1Change(); });
    Image1->OnMouseDown = [this](int x) { Image1MouseDown(x); };
}

void TForm1::FormCreate() {
    char version[64];
    std::snprintf(version, sizeof version, "%d.%d.%d", QZ_VERSION_MAJOR, QZ_VERSION_MINOR,
                  QZ_VERSION_PATCH);
    FBaseCaption = QString::fromUtf8(kmonAppTitle) + QStringLiteral("  v ") + version;
    setWindowTitle(FBaseCaption);

    const TmonListLoad load = FSettings->LoadConnectionList(FConnections);
    if (load.State == TmonListState::Damaged) {
        // Never lose the operator's list: an older copy of the program, a torn write or a
        // hand edit must not cost the stored value. It stays as it is in the file.
        FKeepStoredList = true;
        FListBackup = FSettings->ConnectionBackupPath(std::time(nullptr));
        const std::string text = ListNotLoadedText(FSettings->FileName(), load.Reason, FListBackup);
        // Told once the window stands, so the box has its owner on the screen.
        QTimer::singleShot(0, this, [this, text] {
            if (!FClosed) ShowMessage(kCaptionWarning, TmonMessageIcon::Warning, text);
        });
    }
    FSelectedID = FSettings->ReadSelectedID();
    for (TDeviceType t : {dtQZ2, dtQZ2M, dtQZ2C, dtQZ2A, dtQZ2AM, dtQZ2AC})
        FDialogOptions.DeviceTypeOptions().AddDeviceTypeOptions(
            t, SetBit(dptKavren),
            TConModeTypes(SetBit(cmtDirect232) | SetBit(cmtPhoneModem232) |
                          SetBit(cmtRadioModem232) | SetBit(cmtDirectTCPIP)));
    FDialogOptions.MultiSelect = false;

    FBarStep = SpectrumBarStep(kmonSpectrumWidth);
    try {
        SelectConnection(FConnections.FindByID(FSelectedID));
    } catch (const std::exception& e) {
        // A stored connection of a device the exchange does not support.
        SelectConnection(nullptr);
        ShowMessage(kCaptionError, TmonMessageIcon::Error, e.what());
    }
    {
        QSignalBlocker block(ChkRecord);
        ChkRecord->setChecked(FSettings->ReadRecordingOn());
    }
    // A trace given on the command line shows as on; otherwise the stored choice.
    if (FLineLog->Trace()) {
        QSignalBlocker block(FTraceAction);
        FTraceAction->setChecked(true);
    } else if (FSettings->ReadLineTraceOn()) {
        FTraceAction->setChecked(true);
    }
    FLineLog->SetNotify([this] { PostToWindowThread([this] { ShowLineProgress(); }); });
    FStartingUp = true; // the legend keeps the form's own captions
    ComboBox2Change();
    FStartingUp = false;
    UpdateControlStates();
}

// --- connection ---

void TForm1::SelectConnection(TccnConnection* c) {
    // A device outside the six models is refused before anything changes.
    bool neutral = false;
    if (c && c->CustomDevice()) {
        TDeviceType t = c->CustomDevice()->DeviceType();
        neutral = ModelHasNeutral(
            ModelIndexOfDeviceType(int(t), t < DeviceTypeCount ? DeviceTypeNames[t] : "?"));
    }
    FConnection = c;
    if (FOwnedConnection && FOwnedConnection.get() != c)
        FOwnedConnection.reset(); // nothing runs on it: the button is disabled while running
    FStorage.Clear();
    FShown.Clear();
    FShown.Settings.HasNeutral = neutral ? 1 : 0;
    FStorage.Update([neutral](TmonStorage& s) { s.Settings.HasNeutral = neutral ? 1 : 0; });
    UpdateConnectionControls();
    ShowMeasurements();
    DrawSpectrum();
    if (FTrends) FTrends->SetSettings(FShown.Settings); // the N channel quantities
}

void TForm1::UpdateConnectionControls() {
    if (FConnection && FConnection->CustomDevice()) {
        BDevices->setText(Q(MeterName(FConnection)));
    } else {
        BDevices->setText(QString::fromUtf8("Измеритель ..."));
    }
    const bool neutral = FShown.Settings.HasNeutral != 0;
    {
        QSignalBlocker block(ComboBox1);
        ComboBox1->setCurrentIndex(0);
        while (ComboBox1->count() > 6)
            ComboBox1->removeItem(6);
        if (neutral) ComboBox1->addItem(QString::fromUtf8("Фаза N"));
        ComboBox1->addItem(QString::fromUtf8("Мощность"));
    }
    for (QLabel* l : {L_U[3], L_I[3], L_fi_UI[3], L_PQS[0][pwN], L_PQS[1][pwN], L_PQS[2][pwN],
                      L_Cos[pwN], L_K_U[3], L_K_I[3]})
        l->setEnabled(neutral);
    L_Blue->setVisible(neutral && ComboBox2->currentIndex() != 1);
}

void TForm1::UseOwnedConnection(std::unique_ptr<TccnConnection> connection, bool start) {
    if (Running()) return; // the meter never changes under a running thread
    TccnConnection* c = connection.get();
    std::unique_ptr<TccnConnection> previous = std::move(FOwnedConnection);
    FOwnedConnection = std::move(connection);
    try {
        SelectConnection(c);
    } catch (const std::exception& e) {
        SelectConnection(nullptr);
        ShowMessage(kCaptionError, TmonMessageIcon::Error, e.what());
    }
    if (start && FConnection) BStartClick();
}

void TForm1::ConnectFromCommandLine(int modelIndex, int32_t factoryNumber, uint8_t comPort,
                                    bool start) {
    std::unique_ptr<TccnConnection> c;
    try {
        c = MakeCommandLineConnection(modelIndex, factoryNumber, comPort);
    } catch (const std::exception&) {
        c.reset();
        ShowMessage(kCaptionError, TmonMessageIcon::Error, kmonMsgConnectionObject);
    }
    UseOwnedConnection(std::move(c), start);
}

void TForm1::BDevicesClick() {
    if (Running() || FClosing.load()) return;
    const std::string before = SavedListBytes(FConnections);
    if (FOpt.ConnectionDialog) {
        int32_t chosen = FSelectedID;
        if (FOpt.ConnectionDialog(this, FConnections, FDialogOptions, chosen)) {
            FSelectedID = chosen;
            FSettings->WriteSelectedID(FSelectedID);
            try {
                SelectConnection(FConnections.FindByID(FSelectedID));
            } catch (const std::exception& e) {
                SelectConnection(nullptr);
                ShowMessage(kCaptionError, TmonMessageIcon::Error, e.what());
            }
            if (ChkViewSinus->isChecked()) ToggleViewSinus();
        } else if (FConnection && FConnection != FOwnedConnection.get()) {
            // Closed without a choice, but the list may have changed under the current
            // connection: it may be gone (never touch it again) or edited (show it anew).
            try {
                SelectConnection(FConnections.FindByID(FSelectedID));
            } catch (const std::exception& e) {
                SelectConnection(nullptr);
                ShowMessage(kCaptionError, TmonMessageIcon::Error, e.what());
            }
        }
    }
    StoreConnectionsAfterDialog(before);
    SaveSettingsFile();
}

void TForm1::StoreConnectionsAfterDialog(const std::string& before) {
    if (FKeepStoredList) {
        // The list shown was empty in place of the damaged one; only a list the operator
        // made replaces the stored value, and only once a copy of that value is on disk.
        if (SavedListBytes(FConnections) == before) return;
        std::string error;
        if (!FSettings->WriteConnectionBackup(FListBackup, &error)) {
            ShowMessage(kCaptionError, TmonMessageIcon::Error,
                        "Список подключений не сохранён: не удалось сохранить копию прежнего "
                        "списка.\r\n\r\n" +
                            error);
            return;
        }
        FKeepStoredList = false;
    }
    // The dialog may have added, changed or deleted connections: keep them on disk now.
    FSettings->SaveConnections(FConnections);
}

void TForm1::SaveSettingsFile() {
    std::string error;
    if (!FSettings->UpdateFile(&error))
        std::fprintf(stderr, "qzmonitor: settings not saved: %s\n", error.c_str());
}

// --- exchange control ---

void TForm1::BStartClick() {
    if (FClosing.load()) return;
    if (BStart->text() == QString::fromUtf8(kStart)) {
        if (!FConnection) {
            ShowMessage(kCaptionWarning, TmonMessageIcon::Warning, kmonMsgNoDevice);
            return;
        }
        try {
            StartMainExchange();
        } catch (const std::exception& e) {
            ShowMessage(kCaptionError, TmonMessageIcon::Error, e.what());
        }
        UpdateControlStates();
        if (ChkViewSinus->isChecked()) ToggleViewSinus();
    } else {
        StopMainExchange();
        UpdateControlStates();
    }
}

void TForm1::StartMainExchange() {
    if (!FConnection) throw std::runtime_error("Подключение не определено");
    if (FMainThread) throw std::runtime_error("Чтение 3 сек уже осуществляется");
    if (!FOpt.Exchange.MakeMain) throw std::logic_error("qzmonitor: no exchange threads");
    if (FClosing.load()) return; // the window is closing: no thread starts
    PrepareTrendsForPoll();
    FLineLog->ClearStages();
    LProgress->clear();
    LProgress->setToolTip(QString());
    // The channels report their connect (for the label) and what the trace wants.
    monSetExchangeLogMask(FLineLog->ChannelLogMask());
    FMainThread = FOpt.Exchange.MakeMain(FRecording.get(), FConnection, &FStorage);
    FMainStopping = false;
    FMainThread->Start();
}

void TForm1::StopMainExchange() {
    if (FSignalThread) StopSignalExchange();
    if (FMainThread) {
        FMainThread->Stop();
        FMainStopping = true;
    }
}

void TForm1::StartSignalExchange() {
    if (!FConnection) throw std::runtime_error("Подключение не определено");
    if (FSignalThread) throw std::runtime_error("Чтение формы сигналов уже осуществляется");
    if (!FOpt.Exchange.MakeSignal || !FWaveform || FClosing.load()) return;
    FSignalThread =
        FOpt.Exchange.MakeSignal(FRecording.get(), FConnection, &FStorage, FWaveform->Experiment());
    FSignalStopping = false;
    FSignalThread->Start();
}

void TForm1::StopSignalExchange() {
    if (FSignalThread) {
        FSignalThread->Stop();
        FSignalStopping = true;
    }
}

void TForm1::UpdateControlStates() {
    const bool running = Running();
    const bool closing = FClosing.load();
    BStart->setText(QString::fromUtf8(running ? kStop : kStart));
    BStart->setEnabled(!closing);
    BDevices->setEnabled(!running && !closing);
    buSaveData->setEnabled(running && !closing);
    ChkViewSinus->setEnabled(!FMainStopping && !FSignalStopping && !closing);
    ChkRecord->setEnabled(!closing);
    UpdateRecording();
}

void TForm1::ToggleViewSinus() {
    // Unchecking and checking again rebuilds the waveform window for the current meter and
    // starts its thread beside the polling thread.
    ChkViewSinus->setChecked(false);
    ChkViewSinus->setChecked(true);
}

void TForm1::ChkViewSinusClick() {
    if (FClosing.load()) return; // the waveform window is freed and no thread starts now
    if (ChkViewSinus->isChecked()) {
        if (!FWaveform && FOpt.WaveformFactory)
            FWaveform = FOpt.WaveformFactory(this, FShown.Settings.HasNeutral != 0);
        if (FMainThread && !FMainStopping && FWaveform && !FSignalThread) {
            try {
                StartSignalExchange();
            } catch (const std::exception& e) {
                ShowMessage(kCaptionError, TmonMessageIcon::Error, e.what());
            }
        }
    } else {
        StopSignalExchange();
        UpdateControlStates();
        // The waveform thread reads the experiment until it ends; it is retired (and the
        // experiment freed with the window) only after its end was reported.
        if (!FSignalThread) FWaveform.reset();
    }
    UpdateControlStates();
}

// --- thread notifications ---

void TForm1::RunOnWindowThread(const std::function<void()>& f) {
    if (FClosing.load()) return; // the window waits for the threads to end and handles nothing more
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    // The call is queued for the window's thread and the caller waits until it was handled.
    // Only our own queue, lock and eventfd cross the threads (not Qt's event queue), so the
    // hand-over in both directions is plain to see for the thread checker.
    auto call = std::make_shared<TQueuedCall>();
    call->F = &f;
    {
        std::lock_guard<std::mutex> lock(FCallsMutex);
        if (FClosing.load()) return;
        FCalls.push_back(call);
    }
    const uint64_t one = 1;
    ssize_t w = ::write(FWakeFd, &one, sizeof one);
    (void)w; // a full counter still wakes the window
    std::unique_lock<std::mutex> lock(FCallsMutex);
    call->Cv.wait(lock, [&call] { return call->Done; });
}

void TForm1::PostToWindowThread(std::function<void()> f) {
    if (FClosing.load()) return;
    auto call = std::make_shared<TQueuedCall>();
    call->Posted = std::move(f);
    {
        std::lock_guard<std::mutex> lock(FCallsMutex);
        if (FClosing.load()) return;
        FCalls.push_back(call);
    }
    const uint64_t one = 1;
    ssize_t w = ::write(FWakeFd, &one, sizeof one);
    (void)w;
}

void TForm1::DrainCalls() {
    uint64_t count = 0;
    ssize_t r = ::read(FWakeFd, &count, sizeof count);
    (void)r; // nothing to read when called from the closing loop
    for (;;) {
        std::shared_ptr<TQueuedCall> call;
        {
            std::lock_guard<std::mutex> lock(FCallsMutex);
            if (FCalls.empty()) break;
            call = FCalls.front();
            FCalls.pop_front();
        }
        if (!FClosing.load()) {
            if (call->F)
                (*call->F)();
            else if (call->Posted)
                call->Posted();
        }
        {
            std::lock_guard<std::mutex> lock(FCallsMutex);
            call->Done = true;
        }
        call->Cv.notify_all();
    }
}

void TForm1::OnData3sec() {
    RunOnWindowThread([this] { HandleData3sec(); });
}
void TForm1::OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) {
    RunOnWindowThread([=] { HandleExchangeEnd(errorCode, deviceStatus); });
}
void TForm1::OnSignalData(uint8_t channelMask, uint8_t sizeCode) {
    RunOnWindowThread([=] { HandleSignalData(channelMask, sizeCode); });
}
void TForm1::OnSignalEnd(int32_t errorCode, int32_t deviceStatus) {
    RunOnWindowThread([=] { HandleSignalEnd(errorCode, deviceStatus); });
}

void TForm1::HandleData3sec() {
    const uint8_t neutral = FShown.Settings.HasNeutral;
    FShown = FStorage.Snapshot();
    FShown.Settings.HasNeutral = neutral;
    FShown.SignalData = nullptr; // valid only during a waveform call
    FShown.SignalSize = 0;
    ShowMeasurements();
    DrawSpectrum();
    AppendTrendSample();
    ShowLinkStatistics();
    ++FRecordsShown;
    if (OnRecordShown) OnRecordShown(FRecordsShown);
}

void TForm1::HandleExchangeEnd(int32_t errorCode, int32_t deviceStatus) {
    if (errorCode != 0 || deviceStatus != 0) {
        StopSignalExchange();
        std::string text = deviceStatus != 0
                               ? DeviceStatusText(deviceStatus & 0xFFFF)
                               : (FMainThread ? FMainThread->GetErrorText() : std::string());
        // A serial port the account may not open: the device and the cure beside the code's text.
        if (deviceStatus == 0) {
            const std::string detail = PortAccessDetail(errorCode, FConnection);
            if (!detail.empty()) text += "\r\n\r\n" + detail;
        }
        // The label ends on the error too (its first line: the label has one).
        std::string shown = kmonMsgExchangeError;
        shown.erase(shown.find_last_not_of(" \r\n") + 1);
        shown += " " + text.substr(0, text.find('\r'));
        LProgress->setText(Q(monConnectProgressText(shown, false, std::chrono::milliseconds(0))));
        ShowMessage(kCaptionError, TmonMessageIcon::Error, kmonMsgExchangeError + text);
    } else if (const auto stage = FLineLog->LastStage(); stage && stage->Connecting) {
        LProgress->clear(); // stopped while connecting
    }
    FProgressTimer->stop();
    ShowLinkStatistics();
    Retire(std::move(FMainThread));
    FMainStopping = false;
    UpdateControlStates();
}

void TForm1::HandleSignalData(uint8_t channelMask, uint8_t sizeCode) {
    if (!FWaveform) return;
    TmonStorage s = FStorage.Snapshot(); // SignalData stays valid while the thread waits
    FWaveform->OnSignalData(s, channelMask, sizeCode);
}

void TForm1::HandleSignalEnd(int32_t, int32_t deviceStatus) {
    if (deviceStatus != 0)
        ShowMessage(kCaptionWarning, TmonMessageIcon::Warning, kmonMsgNoWaveforms);
    Retire(std::move(FSignalThread));
    FSignalStopping = false;
    if (!ChkViewSinus->isChecked()) FWaveform.reset();
    UpdateControlStates();
}

void TForm1::Retire(std::unique_ptr<ImonExchange> t) {
    if (!t) return;
    // The thread is still inside its own end call: it is joined once that has returned.
    FRetired.push_back(std::move(t));
    QTimer::singleShot(0, this, [this] { ReapRetired(); });
}

void TForm1::ReapRetired() {
    for (auto it = FRetired.begin(); it != FRetired.end();) {
        if ((*it)->Finished()) {
            (*it)->Join();
            it = FRetired.erase(it);
        } else {
            ++it;
        }
    }
    if (!FRetired.empty()) QTimer::singleShot(10, this, [this] { ReapRetired(); });
}

void TForm1::WaitForAllThreads() {
    // A thread may be waiting for the window to take a call; keep taking them (they do
    // nothing now) until every thread has returned.
    auto allFinished = [this] {
        for (auto* t : {FMainThread.get(), FSignalThread.get()})
            if (t && !t->Finished()) return false;
        for (auto& t : FRetired)
            if (!t->Finished()) return false;
        return true;
    };
    while (!allFinished()) {
        DrainCalls();
        // The operator's clicks wait: the controls are disabled and the window is going.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
        QThread::msleep(2);
    }
    for (auto* t : {FMainThread.get(), FSignalThread.get()})
        if (t) t->Join();
    for (auto& t : FRetired)
        t->Join();
    FMainThread.reset();
    FSignalThread.reset();
    FRetired.clear();
}

void TForm1::FormClose() {
    if (FClosed) return;
    FClosed = true;
    FClosing = true;
    // While the threads end nothing may start another one: a tick of "Сигнал" now would
    // start a waveform thread that no one stops, and the close would wait for ever.
    UpdateControlStates();
    if (FSignalThread) FSignalThread->Stop();
    if (FMainThread) FMainThread->Stop();
    WaitForAllThreads();
    FWaveform.reset();
    FTrends.reset(); // before the samples it reads
    // The list is stored after each use of the dialog; a list that never loaded must not
    // replace the stored value here.
    SaveSettingsFile();
}

void TForm1::CentreOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect target(QPoint(), frameGeometry().size());
    target.moveCenter(screen->availableGeometry().center());
    move(target.topLeft()); // a window's position is that of its frame
}

void TForm1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (FCentred) return;
    FCentred = true;
    // The frame's size arrives from the window manager after the window is mapped.
    QTimer::singleShot(100, this, [this] { CentreOnScreen(); });
}

void TForm1::contextMenuEvent(QContextMenuEvent* e) {
    if (FClosing.load()) return;
    FContextMenu->popup(e->globalPos());
    e->accept();
}

void TForm1::closeEvent(QCloseEvent* e) {
    FormClose();
    e->accept();
}

bool TForm1::eventFilter(QObject* obj, QEvent* e) {
    // The window previews the keys of all its controls.
    if ((e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) && obj->isWidgetType() &&
        static_cast<QWidget*>(obj)->window() == this && obj != this) {
        // Each key reaches the filter once per receiver; take it at the focused widget only.
        if (obj != QApplication::focusWidget()) return false;
    } else if (obj != this || (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease)) {
        return false;
    }
    auto* k = static_cast<QKeyEvent*>(e);
    if (e->type() == QEvent::KeyPress) {
        const bool keypad = k->modifiers() & Qt::KeypadModifier;
        switch (k->key()) {
        case Qt::Key_Up:
            ScrollBar1->setValue(ScrollBar1->value() - 1);
            break;
        case Qt::Key_Down:
            ScrollBar1->setValue(ScrollBar1->value() + 1);
            break;
        case Qt::Key_Plus:
            if (keypad) BInc->click();
            break;
        case Qt::Key_Minus:
            if (keypad) BDec->click();
            break;
        default:
            break;
        }
    } else if (k->key() == Qt::Key_F2 && !k->isAutoRepeat()) {
        SaveMeasurements(); // does nothing while "Сохранить" is disabled
    } else if (k->key() == Qt::Key_F3 && !k->isAutoRepeat()) {
        if (ChkRecord->isEnabled()) ChkRecord->toggle();
    } else if (k->key() == Qt::Key_F4 && !k->isAutoRepeat() && k->modifiers() == Qt::NoModifier) {
        ShowTrends(); // Alt+F4 stays the desktop's close
    }
    return false;
}

// --- presentation ---

void TForm1::ShowMeasurements() {
    TmonSelections sel;
    sel.VoltageItem = Combo_U->currentIndex();
    sel.CurrentItem = Combo_I->currentIndex();
    sel.WholeSignal = !RB_first->isChecked();
    TmonMeasurementsView v = qz::ShowMeasurements(FShown, sel, FBaseCaption.toStdString(), FFormat);
    QString caption = Q(v.Caption);
    if (FRecording->Active())
        caption += Q(RecordingCaption(FRecording->FileName(), FRecording->Records()));
    setWindowTitle(caption);
    LUnom->setText(Q(v.LUnom));
    LUnom_mf->setText(Q(v.LUnomMf));
    Label48->setText(Q(v.Label48));
    L_I_nom->setText(Q(v.LInom));
    Put(L_freq, v.Freq);
    Put(L_delta_F, v.DeltaF);
    for (int x = 0; x < 4; ++x) {
        Put(L_U[x], v.U[x]);
        Put(L_I[x], v.I[x]);
        Put(L_fi_UI[x], v.PhiUI[x]);
        Put(L_K_U[x], v.KU[x]);
        Put(L_K_I[x], v.KI[x]);
    }
    for (int l = 0; l < 3; ++l) {
        Put(L_U_line[l], v.ULine[l]);
        Put(L_U_seq[l], v.USeq[l]);
        Put(L_I_seq[l], v.ISeq[l]);
        Put(L_fi_UI_seq[l], v.PhiUISeq[l]);
        Put(L_K_U_line[l], v.KULine[l]);
    }
    Put(L_K_0, v.K0);
    Put(L_K_1, v.K2);
    ShowPowers();
    FillHarmonicsGrid();
}

void TForm1::ShowPowers() {
    TmonPowersView v = qz::ShowPowers(FShown.Data3sec, !RB_first->isChecked(),
                                      FShown.Settings.HasNeutral != 0, FFormat.DecimalSeparator);
    for (int g = 0; g < 3; ++g) {
        L_P_hdr[g]->setText(Q(v.Header[g]));
        for (int i = 0; i < 5; ++i)
            Put(L_PQS[g][i], v.Value[g][i]);
    }
    for (int i = 0; i < 5; ++i)
        Put(L_Cos[i], v.Cos[i]);
}

void TForm1::FillHarmonicsGrid() {
    TmonGridView g =
        qz::FillHarmonicsGrid(FShown, ComboBox1->currentIndex(), FFormat.DecimalSeparator);
    const int columns = g.ColumnCount - 1; // the fixed column is the row header
    const int current = StringGrid1->currentRow();
    StringGrid1->setColumnCount(columns);
    const int width = columns == 4 ? 75 : 100;
    for (int c = 0; c < columns; ++c) {
        StringGrid1->setColumnWidth(c, width);
        QTableWidgetItem* h = StringGrid1->horizontalHeaderItem(c);
        if (!h) {
            h = new QTableWidgetItem;
            StringGrid1->setHorizontalHeaderItem(c, h);
        }
        // The angle symbol is painted over the blanks the caption begins with; three more
        // keep it clear of the text in the narrower fallback fonts.
        QString header = Q(g.Header[c + 1]);
        if (header.startsWith(QStringLiteral("     "))) header.prepend(QStringLiteral("   "));
        h->setText(header);
        h->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        for (int r = 0; r < kmonGridRows; ++r) {
            QTableWidgetItem* it = StringGrid1->item(r, c);
            if (!it) {
                it = new QTableWidgetItem;
                StringGrid1->setItem(r, c, it);
            }
            it->setText(Q(g.Cell[r][c + 1]));
            it->setData(kMarkerRole, uint32_t(g.Marker[r][c + 1]));
        }
    }
    GridHeader->AngleIcon = g.AngleIcon;
    GridHeader->viewport()->update();
    if (current >= 0) StringGrid1->setCurrentCell(current, 0);
}

// --- spectrum ---

const QImage& TForm1::SpectrumImage() const {
    return Image1->Image;
}

void TForm1::ComboBox2Change() {
    const int index = ComboBox2->currentIndex();
    const bool neutral = FShown.Settings.HasNeutral != 0;
    if (FStartingUp) {
        L_Blue->setVisible(neutral);
    } else if (index == 1) {
        L_Yellow->setText("AB");
        L_Green->setText("BC");
        L_Red->setText("CA");
        L_Blue->setVisible(false);
    } else {
        L_Yellow->setText(" A ");
        L_Green->setText(" B ");
        L_Red->setText(" C ");
        L_Blue->setVisible(neutral);
    }
    FLevel = ClampLevel(FSettings->ReadLevel(index));
    {
        QSignalBlocker block(ScrollBar1);
        ScrollBar1->setValue(ClampPos(FSettings->ReadPos(index)) + kScrollRange);
    }
    ComputeScale();
    DrawSpectrum();
}

void TForm1::ComputeScale() {
    FScale = ComputeSpectrumScale(kmonSpectrumHeight, FLevel, ScrollBar1->value());
}

void TForm1::DrawSpectrum() {
    const bool neutral = FShown.Settings.HasNeutral != 0;
    qz::DrawSpectrum(Image1->Image, FScale,
                     SpectrumTablesOf(FShown.Data3sec, ComboBox2->currentIndex(), neutral),
                     FSpectrumFont, FFormat.DecimalSeparator);
    Image1->update();
}

void TForm1::BIncClick() {
    if (FLevel < 2) return;
    --FLevel;
    FSettings->WriteLevel(ComboBox2->currentIndex(), FLevel);
    ComputeScale();
    DrawSpectrum();
}

void TForm1::BDecClick() {
    if (FLevel > 298) return;
    ++FLevel;
    FSettings->WriteLevel(ComboBox2->currentIndex(), FLevel);
    ComputeScale();
    DrawSpectrum();
}

void TForm1::ScrollBar1Change() {
    FSettings->WritePos(ComboBox2->currentIndex(), ScrollBar1->value() - kScrollRange);
    ComputeScale();
    DrawSpectrum();
}

void TForm1::Image1MouseDown(int x) {
    int n = HarmonicAtX(x, FBarStep);
    if (n != 0) StringGrid1->setCurrentCell(n - 2, 0);
}

// --- saving ---

void TForm1::SaveMeasurements() {
    if (!buSaveData->isEnabled() || !FConnection) return;
    double currentFactor = 0, voltageFactor = 0;
    const TSigExperiment* experiment = nullptr;
    if (ChkViewSinus->isChecked() && FWaveform) {
        currentFactor = FWaveform->CurrentFactor();
        voltageFactor = FWaveform->VoltageFactor();
        experiment = FWaveform->Experiment();
    }
    TmonCsvOptions opt;
    opt.DecimalSeparator = FFormat.DecimalSeparator;
    opt.FormatDateTime = FFormat.FormatDateTime;
    opt.DocumentsFolder = FOpt.DocumentsFolder;
    std::string name;
    // Nothing is shown on a failure, as before; the name is kept for the operator's tools.
    if (SaveMeasurementsToFile(CsvDeviceOf(*FConnection), FShown, currentFactor, voltageFactor,
                               experiment, opt, &name))
        FLastSavedFile = name;
}

void TForm1::ShowMessage(const char* caption, TmonMessageIcon icon, const std::string& text) {
    FOpt.Messages->Show(caption, icon, text);
}

// --- the line: progress, figures, trace ---

void TForm1::ShowLineProgress() {
    // A message that arrives after the poll's end (it is queued, the end is not) changes
    // nothing: the end has set the label.
    const auto stage = FLineLog->LastStage();
    if (!stage || !FMainThread) {
        FProgressTimer->stop();
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        TmonLineLog::TClock::now() - stage->Start);
    LProgress->setText(Q(monConnectProgressText(stage->Text, stage->Connecting, elapsed)));
    if (stage->Connecting && !FMainStopping) {
        if (!FProgressTimer->isActive()) FProgressTimer->start();
    } else {
        FProgressTimer->stop();
    }
}

void TForm1::ShowLinkStatistics() {
    if (!FMainThread) return;
    LProgress->setToolTip(Q(monLinkStatisticsText(FMainThread->LinkStatistics())));
}

bool TForm1::LineTracing() const {
    return FLineLog->Trace() != nullptr;
}

void TForm1::SetLineTrace(bool on) {
    if (on == LineTracing()) {
        FSettings->WriteLineTraceOn(on);
        return;
    }
    std::string error;
    if (on) {
        const std::string product = MakeProductFolder(DocumentsFolder(), kmonApplicationTitle);
        std::unique_ptr<TLCATrace> trace;
        if (product.empty()) {
            error = "Не найдена папка документов.";
        } else {
            const std::string folder = product + "Трассировка/";
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
            const std::string name =
                QDateTime::currentDateTime().toString("yyyy-MM-dd_HH-mm-ss").toStdString();
            FLineTraceFile = folder + name + ".log";
            trace = TLCATrace::Open(FLineTraceFile, kTraceAllClasses, error);
        }
        if (trace) {
            FOwnTrace = std::move(trace);
            FLineLog->SetTrace(FOwnTrace);
        }
    } else {
        std::shared_ptr<TLCATrace> old = FLineLog->SetTrace(nullptr);
        if (old && !old->Stop()) error = old->ErrorText();
        FOwnTrace.reset();
    }
    // Channels opened from now on report what the trace writes.
    monSetExchangeLogMask(FLineLog->ChannelLogMask());
    const bool now = LineTracing();
    if (FTraceAction->isChecked() != now) {
        QSignalBlocker block(FTraceAction);
        FTraceAction->setChecked(now);
    }
    FSettings->WriteLineTraceOn(now);
    if (!error.empty()) ShowMessage(kCaptionError, TmonMessageIcon::Error, error);
}

// --- recording ---

void TForm1::ChkRecordClick() {
    FSettings->WriteRecordingOn(ChkRecord->isChecked());
    UpdateRecording();
}

void TForm1::UpdateRecording() {
    // One journal per poll: opened when both the toggle and the poll are on, closed when
    // either goes off (or the window closes).
    const bool wanted =
        ChkRecord->isChecked() && FMainThread && !FMainStopping && !FClosing.load() && FConnection;
    if (wanted == FRecording->Active()) return;
    std::string error;
    if (wanted) {
        if (!FRecording->Start(RecordingFolder(DocumentsFolder()), *FConnection, error)) {
            QSignalBlocker block(ChkRecord);
            ChkRecord->setChecked(false);
            FSettings->WriteRecordingOn(false);
        }
    } else {
        error = FRecording->Stop();
    }
    ShowMeasurements(); // the caption
    if (!error.empty()) ShowMessage(kCaptionError, TmonMessageIcon::Error, error);
}

void TForm1::HandleRecordingFailure(const std::string& file, const std::string& text) {
    // Stopped by the operator meanwhile (and told then), or a new journal begun: not this one.
    if (!FRecording->Active() || FRecording->FileName() != file) return;
    // The journal keeps what was committed before the failure; polling goes on.
    FRecording->Stop();
    {
        QSignalBlocker block(ChkRecord);
        ChkRecord->setChecked(false);
    }
    FSettings->WriteRecordingOn(false);
    ShowMeasurements();
    ShowMessage(kCaptionError, TmonMessageIcon::Error, text);
}

std::string TForm1::RecordingFile() const {
    return FRecording->FileName();
}

bool TForm1::Recording() const {
    return FRecording->Active();
}

int64_t TForm1::RecordingRecords() const {
    return FRecording->Records();
}

// --- trends ---

std::string TForm1::DocumentsFolder() const {
    return FOpt.DocumentsFolder.empty() ? GetDocumentsPath() : FOpt.DocumentsFolder;
}

void TForm1::ShowTrends() {
    if (FClosing.load()) return;
    if (!FTrends) {
        FTrends = std::make_unique<TmonTrendsWindow>(this);
        // A tool window of this one, as the waveform window: above it, but under the boxes.
        FTrends->setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
        FTrends->SetSettings(FShown.Settings);
        FTrends->SetSource(FTrendSource.get());
        FTrends->SetJournalFolder(RecordingFolder(DocumentsFolder()));
    }
    FTrends->show();
    FTrends->raise();
    FTrends->activateWindow();
}

void TForm1::PrepareTrendsForPoll() {
    const std::string meter = MeterName(FConnection);
    if (meter == FTrendMeter) return; // Stop and Start again: one trend goes on
    // Another meter's values on the same axes would read as one trend; they start afresh.
    auto fresh = std::make_unique<TmonTrendMemorySource>(meter, true, kmonTrendLiveSamples);
    if (FTrends) FTrends->SetSource(fresh.get()); // let go of the old samples first
    FTrendSource = std::move(fresh);
    FTrendMeter = meter;
}

void TForm1::AppendTrendSample() {
    TDateTime first = 0, last = 0;
    // The same record shown again (no new one from the meter yet) is one point, not two.
    if (FTrendSource->Span(first, last) && FShown.Data3sec.Time == last) return;
    if (!FTrendSource->Append(TrendSampleOf(FShown.Data3sec)))
        return; // the meter's clock went back
    // A journal file opened in the window keeps the limits it was recorded with.
    if (FTrends && FTrends->Source() == FTrendSource.get()) {
        FTrends->SetSettings(FShown.Settings); // the limits are read with the records
        FTrends->SamplesAppended();
    }
}

// --- message boxes ---

void TmonMessageBoxes::Show(const std::string& caption, TmonMessageIcon icon,
                            const std::string& text) {
    QMessageBox::Icon i = icon == TmonMessageIcon::Error     ? QMessageBox::Critical
                          : icon == TmonMessageIcon::Warning ? QMessageBox::Warning
                                                             : QMessageBox::Information;
    RunMessageBox(FParent, i, Q(caption), Q(text), QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace qz

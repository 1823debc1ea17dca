#include "monitor/monMainForm.h"

#include "monitor/monFormat.h"
#include "monitor/monSpectrum.h"
#include "settings/monIniFile.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <string>

namespace qz {

const char* const kmonStartCaption = "Старт";
const char* const kmonStopCaption = "Стоп";

TmonSpectrumImage::TmonSpectrumImage(QWidget* parent)
    : QWidget(parent), Image(kmonSpectrumWidth, kmonSpectrumHeight, QImage::Format_RGB32) {
    Image.fill(QColor(0x6A, 0x6A, 0x6A));
}

void TmonSpectrumImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, Image);
}

void TmonSpectrumImage::mousePressEvent(QMouseEvent* e) {
    if (OnMouseDown) OnMouseDown(int(e->position().x()));
}

TmonGridHeader::TmonGridHeader(QWidget* parent, const QPixmap& icon)
    : QHeaderView(Qt::Horizontal, parent), Icon(icon) {}

void TmonGridHeader::paintSection(QPainter* p, const QRect& rect, int logicalIndex) const {
    p->save();
    QHeaderView::paintSection(p, rect, logicalIndex);
    p->restore();
    if (AngleIcon && logicalIndex == 2) p->drawPixmap(rect.left() + 6, rect.top() + 3, Icon);
}

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
        uint32_t marker = index.data(kmonGridMarkerRole).toUInt();
        if (marker == mclBlue)
            p->drawPixmap(opt.rect.right() - 15, opt.rect.top(), FNormal);
        else if (marker == mclRed)
            p->drawPixmap(opt.rect.right() - 15, opt.rect.top(), FMax);
    }

private:
    QPixmap FNormal, FMax;
};

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

QPushButton* Button(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                    int h) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    return b;
}

QComboBox* Combo(QWidget* parent, const char* name, int x, int y, int w, int h,
                 std::initializer_list<const char*> items) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    for (const char* item : items)
        c->addItem(QString::fromUtf8(item));
    c->setGeometry(x, y, w, h);
    return c;
}

// "Управление", "Частота" and "Несинусоидальность" along the top.
void BuildTopRow(QWidget* form, TmonFormControls& c) {
    c.GroupBox10 = Group(form, "GroupBox10", "Управление", 1, -1, 352, 93);
    c.BDevices =
        Button(c.GroupBox10, "BDevices", QString::fromUtf8("Измеритель ..."), 8, 16, 226, 26);
    c.BStart =
        Button(c.GroupBox10, "BStart", QString::fromUtf8(kmonStartCaption), 240, 16, 104, 26);
    Caption(c.GroupBox10, "Uном", 10, 50);
    c.Label48 = Value(c.GroupBox10, "Label48", 8, 68, 118);
    c.Label48->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    c.LUnom = Value(c.GroupBox10, "LUnom", 8, 68, 60);
    c.LUnom->hide();
    c.LUnom_mf = Value(c.GroupBox10, "LUnom_mf", 8, 68, 60);
    c.LUnom_mf->hide();
    Caption(c.GroupBox10, "Iном", 134, 50);
    c.L_I_nom = Value(c.GroupBox10, "L_I_nom", 132, 68, 64);
    c.L_I_nom->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    c.ChkViewSinus = new QCheckBox(QString::fromUtf8("Сигнал"), c.GroupBox10);
    c.ChkViewSinus->setObjectName("ChkViewSinus");
    c.ChkViewSinus->setGeometry(206, 58, 66, 22);
    c.buSaveData =
        Button(c.GroupBox10, "buSaveData", QString::fromUtf8("Сохранить"), 272, 56, 72, 26);
    c.buSaveData->setToolTip(QString::fromUtf8("Сохранить значения в файле     F2"));

    c.GroupBox6 = Group(form, "GroupBox6", "Частота", 354, -1, 69, 93);
    c.L_freq = Value(c.GroupBox6, "L_freq", 2, 22, 63);
    Caption(c.GroupBox6, "Отклонение", 4, 48);
    c.L_delta_F = Value(c.GroupBox6, "L_delta_F", 2, 66, 63);

    c.GroupBox7 = Group(form, "GroupBox7", "Несинусоидальность", 424, -1, 358, 93);
    const char* phaseNames[4] = {"L_K_U_a", "L_K_U_b", "L_K_U_c", "L_K_U_n"};
    const char* kiNames[4] = {"L_K_I_a", "L_K_I_b", "L_K_I_c", "L_K_I_n"};
    const char* lineNames[3] = {"L_K_U_ab", "L_K_U_bc", "L_K_U_ca"};
    const char* phaseCaps[3] = {"KU A", "KU B", "KU C"};
    const char* lineCaps[3] = {"KU AB", "KU BC", "KU CA"};
    const char* kiCaps[3] = {"KI A", "KI B", "KI C"};
    for (int i = 0; i < 3; ++i) {
        int y = 20 + i * 22;
        Caption(c.GroupBox7, phaseCaps[i], 6, y);
        c.L_K_U[i] = Value(c.GroupBox7, phaseNames[i], 30, y, 54);
        Caption(c.GroupBox7, lineCaps[i], 92, y);
        c.L_K_U_line[i] = Value(c.GroupBox7, lineNames[i], 122, y, 54);
        Caption(c.GroupBox7, kiCaps[i], 184, y);
        c.L_K_I[i] = Value(c.GroupBox7, kiNames[i], 206, y, 54);
    }
    Caption(c.GroupBox7, "KU N", 268, 20);
    c.L_K_U[3] = Value(c.GroupBox7, phaseNames[3], 292, 20, 58);
    Caption(c.GroupBox7, "KI N", 268, 42);
    c.L_K_I[3] = Value(c.GroupBox7, kiNames[3], 292, 42, 58);
}

// "Параметры основной частоты" with "Запись" and "Тренды", and the window's context menu.
void BuildFundamental(QWidget* form, TmonFormControls& c) {
    c.GroupBox1 = Group(form, "GroupBox1", "Параметры основной частоты", 1, 92, 422, 49);
    c.Combo_U = Combo(c.GroupBox1, "Combo_U", 40, 18, 150, 22, {"U(1)", "Uд", "Отклонение U(1)"});
    c.Combo_I = Combo(c.GroupBox1, "Combo_I", 200, 18, 110, 22, {"I(1)", "Iд"});
    c.ChkRecord = new QCheckBox(QString::fromUtf8("Запись"), c.GroupBox1);
    c.ChkRecord->setObjectName("ChkRecord");
    c.ChkRecord->setGeometry(330, 18, 60, 22);
    c.ChkRecord->setToolTip(QString::fromUtf8("Вести журнал записи     F3"));
    // Too narrow for its caption: the picture, with the caption in the tip.
    c.BTrends = Button(c.GroupBox1, "BTrends", QString(), 392, 17, 24, 24);
    c.BTrends->setIcon(QIcon(MakeTrendsIcon()));
    c.BTrends->setAccessibleName(QString::fromUtf8("Тренды"));
    c.BTrends->setToolTip(QString::fromUtf8("Тренды     F4"));
    c.ContextMenu = new QMenu(form);
    c.ContextMenu->setObjectName("ContextMenu");
    c.TrendsAction = c.ContextMenu->addAction(QString::fromUtf8("Тренды"));
    c.TrendsAction->setShortcut(QKeySequence(Qt::Key_F4)); // shown only: the window takes the key
    c.TrendsAction->setShortcutContext(Qt::WidgetShortcut);
    c.TraceAction = c.ContextMenu->addAction(QString::fromUtf8("Трассировка линии"));
    c.TraceAction->setObjectName("TraceAction");
    c.TraceAction->setCheckable(true);
    c.ResumeAction = c.ContextMenu->addAction(QString::fromUtf8("Возобновлять опрос после ошибок"));
    c.ResumeAction->setObjectName("ResumeAction");
    c.ResumeAction->setCheckable(true);
}

// "Фазные параметры", "Междуфазные параметры" and "Коэффициенты несимметрии".
void BuildPhases(QWidget* form, TmonFormControls& c) {
    c.GroupBox2 = Group(form, "GroupBox2", "Фазные параметры", 1, 135, 422, 97);
    const char* caps[4] = {"A", "B", "C", "N"};
    const char* u[4] = {"L_U_a", "L_U_b", "L_U_c", "L_U_N"};
    const char* i4[4] = {"L_I_a", "L_I_b", "L_I_c", "L_I_N"};
    const char* f[4] = {"L_fi_UI_a", "L_fi_UI_b", "L_fi_UI_c", "L_fi_UI_n"};
    for (int i = 0; i < 4; ++i) {
        int y = 16 + i * 19;
        Caption(c.GroupBox2, caps[i], 14, y);
        c.L_U[i] = Value(c.GroupBox2, u[i], 40, y, 150);
        c.L_I[i] = Value(c.GroupBox2, i4[i], 200, y, 110);
        c.L_fi_UI[i] = Value(c.GroupBox2, f[i], 320, y, 90);
    }

    c.GroupBox3 = Group(form, "GroupBox3", "Междуфазные параметры", 1, 229, 422, 98);
    const char* lineCaps[3] = {"AB", "BC", "CA"};
    const char* lu[3] = {"L_U_ab", "L_U_bc", "L_U_ca"};
    const char* seqCaps[3] = {"0", "1", "2"};
    const char* su[3] = {"L_U_0", "L_U_1", "L_U_2"};
    const char* si[3] = {"L_I_0", "L_I_1", "L_I_2"};
    const char* sf[3] = {"L_fi_UI_0", "L_fi_UI_1", "L_fi_UI_2"};
    for (int i = 0; i < 3; ++i) {
        int y = 20 + i * 24;
        Caption(c.GroupBox3, lineCaps[i], 8, y);
        c.L_U_line[i] = Value(c.GroupBox3, lu[i], 30, y, 96);
        Caption(c.GroupBox3, seqCaps[i], 140, y);
        c.L_U_seq[i] = Value(c.GroupBox3, su[i], 150, y, 92);
        c.L_I_seq[i] = Value(c.GroupBox3, si[i], 248, y, 80);
        c.L_fi_UI_seq[i] = Value(c.GroupBox3, sf[i], 332, y, 80);
    }

    c.GroupBox4 = Group(form, "GroupBox4", "Коэффициенты несимметрии", 1, 327, 310, 36);
    Caption(c.GroupBox4, "K0", 10, 15);
    c.L_K_0 = Value(c.GroupBox4, "L_K_0", 30, 15, 100);
    Caption(c.GroupBox4, "K2", 160, 15);
    c.L_K_1 = Value(c.GroupBox4, "L_K_1", 180, 15, 100);
}

// "Мощность": the choice of the whole signal or the first harmonic and the P, Q, S, Cos table.
void BuildPowers(QWidget* form, TmonFormControls& c) {
    c.GroupBox5 = Group(form, "GroupBox5", "Мощность", 1, 363, 310, 169);
    c.RB_whole = new QRadioButton(QString::fromUtf8("Всего сигнала"), c.GroupBox5);
    c.RB_whole->setObjectName("RB_whole");
    c.RB_whole->setGeometry(10, 16, 130, 20);
    c.RB_whole->setChecked(true);
    c.RB_first = new QRadioButton(QString::fromUtf8("1-й гармоники"), c.GroupBox5);
    c.RB_first->setObjectName("RB_first");
    c.RB_first->setGeometry(150, 16, 130, 20);
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
            c.L_P_hdr[g] = Caption(c.GroupBox5, hdrTexts[g], x, 40, 64);
            c.L_P_hdr[g]->setObjectName(hdrNames[g]);
            c.L_P_hdr[g]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        } else {
            QLabel* cos = Caption(c.GroupBox5, "Cos", x, 40, 64);
            cos->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        for (int r = 0; r < 5; ++r) {
            QLabel* l = Value(c.GroupBox5, names[g][r], x, rowY[r], 64);
            if (g < 3)
                c.L_PQS[g][r] = l;
            else
                c.L_Cos[r] = l;
        }
    }
    for (int r = 0; r < 5; ++r)
        Caption(c.GroupBox5, rowCaps[r], 6, rowY[r]);
}

// "Гармоники": the choice of the table and the grid of harmonics 2..40.
void BuildHarmonics(QWidget* form, TmonFormControls& c, const TmonFormIcons& icons) {
    c.GroupBox9 = Group(form, "GroupBox9", "Гармоники", 424, 92, 359, 235);
    c.ComboBox1 = Combo(c.GroupBox9, "ComboBox1", 8, 16, 150, 22,
                        {"КUф", "KUмф", "KI", "Фаза А", "Фаза B", "Фаза С", "Мощность"});
    QTableWidget* grid = c.StringGrid1 = new QTableWidget(kmonGridRows, 3, c.GroupBox9);
    grid->setObjectName("StringGrid1");
    grid->setGeometry(8, 42, 343, 187);
    c.GridHeader = new TmonGridHeader(grid, icons.Angle);
    grid->setHorizontalHeader(c.GridHeader);
    c.GridHeader->setSectionResizeMode(QHeaderView::Fixed);
    c.GridHeader->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    c.GridHeader->setFixedHeight(20);
    grid->verticalHeader()->setFixedWidth(20);
    grid->verticalHeader()->setDefaultSectionSize(17);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid->setItemDelegate(new TGridDelegate(grid, icons.Normal, icons.Max));
    QStringList rowHeaders;
    for (int n = 2; n <= 40; ++n)
        rowHeaders << QString::number(n);
    grid->setVerticalHeaderLabels(rowHeaders);
}

QLabel* Legend(QWidget* parent, const char* name, const char* text, int x, QColor bg, QColor fg) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setObjectName(name);
    l->setGeometry(x, 13, 28, 16);
    l->setAlignment(Qt::AlignCenter);
    l->setAutoFillBackground(true);
    QPalette pal = l->palette();
    pal.setColor(QPalette::Window, bg);
    pal.setColor(QPalette::WindowText, fg);
    l->setPalette(pal);
    return l;
}

// "Спектр": the choice, the colour legend, the scale buttons, the picture and its scroll bar.
void BuildSpectrum(QWidget* form, TmonFormControls& c) {
    c.GroupBox8 = Group(form, "GroupBox8", "Спектр", 312, 327, 471, 205);
    c.ComboBox2 = Combo(c.GroupBox8, "ComboBox2", 60, 11, 72, 20, {"KUф", "KUмф", "KI"});
    c.L_Yellow = Legend(c.GroupBox8, "L_Yellow", " А ", 150, QColor(0xFF, 0xFF, 0x00), Qt::black);
    c.L_Green = Legend(c.GroupBox8, "L_Green", " В ", 182, QColor(0x00, 0xFF, 0x00), Qt::black);
    c.L_Red = Legend(c.GroupBox8, "L_Red", " С ", 214, QColor(0xFF, 0x00, 0x00), Qt::white);
    c.L_Blue = Legend(c.GroupBox8, "L_Blue", " N ", 246, QColor(0x00, 0x00, 0xFF), Qt::white);
    Caption(c.GroupBox8, "%", 392, 14);
    c.BInc = Button(c.GroupBox8, "BInc", QStringLiteral("+"), 410, 10, 24, 21);
    c.BDec = Button(c.GroupBox8, "BDec", QStringLiteral("-"), 436, 10, 24, 21);
    c.Image1 = new TmonSpectrumImage(c.GroupBox8);
    c.Image1->setObjectName("Image1");
    c.Image1->setGeometry(6, 33, kmonSpectrumWidth, kmonSpectrumHeight);
    c.ScrollBar1 = new QScrollBar(Qt::Vertical, c.GroupBox8);
    c.ScrollBar1->setObjectName("ScrollBar1");
    c.ScrollBar1->setGeometry(454, 33, 14, kmonSpectrumHeight);
    c.ScrollBar1->setRange(0, kScrollRange);
    c.ScrollBar1->setPageStep(20);
    c.ScrollBar1->setValue(kScrollRange);
    const int barStep = SpectrumBarStep(kmonSpectrumWidth);
    for (int n : {2, 10, 20, 30, 40}) {
        QLabel* l = Caption(c.GroupBox8, std::to_string(n).c_str(),
                            6 + SpectrumBarX(barStep, n) - 10, 192, 24, 12);
        l->setAlignment(Qt::AlignCenter);
    }
}

} // namespace

TmonFormControls BuildForm(QWidget* form, const TmonFormIcons& icons) {
    form->setObjectName("Form1");
    form->setFont(WindowFont());
    form->setFixedSize(784, 532);
    form->setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint);
    TmonFormControls c{};
    BuildTopRow(form, c);
    BuildFundamental(form, c);
    BuildPhases(form, c);
    BuildPowers(form, c);
    BuildHarmonics(form, c, icons);
    BuildSpectrum(form, c);
    // The connect's progress, in the free room at the foot of "Мощность".
    c.LProgress = new QLabel(c.GroupBox5);
    c.LProgress->setObjectName("LProgress");
    c.LProgress->setGeometry(8, 148, 296, 16);
    c.LProgress->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return c;
}

} // namespace qz
